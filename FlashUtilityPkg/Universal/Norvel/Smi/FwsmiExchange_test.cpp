#include "Smi/FwsmiExchange.h"

#include <cstring>

#include "UtilityFixture.h"

namespace {

using FwsmiExchangeTest = vyr::testing::FlashTest;

// 14h loads ECX, ESI and EDI from the caller, so every register a buffer
// takes shows in the transcript. The BIOS's answer is a fault: the handler
// never runs and the buffers keep what was placed.
struct ExchangeCase {
  const char *What;
  UINT8 Flags, StopStatus, Back1;
  UINT32 Size2;  // buffer 2 is FWSMI_SKIP_EMPTY
  FWSMI_ISSUE Issue;
  bool Missing, NullInput;
  UINT8 BiosStatus;
  bool Result;
  const char *Exit;  // the exit trace
  size_t Calls;      // SMIErrorRetry=2: three attempts at most
  bool ReadBack;     // buffer 1 came back into Out[0]
  bool Reported;
};

const ExchangeCase kCases[] = {
    {"success reads back", 0, 0, FWSMI_BACK_ON_SUCCESS, 8, NULL, false, false, 0, true, "<=== T\r\n", 1, true, false},
    {"failure: no read-back on success only", 0, 0, FWSMI_BACK_ON_SUCCESS, 8, NULL, false, false, 0x25, false,
     "<=== T (BIOS return not success)\r\n", 3, false, false},
    {"failure: read-back always", 0, 0, FWSMI_BACK_ALWAYS, 8, NULL, false, false, 0x25, false,
     "<=== T (BIOS return not success)\r\n", 3, true, false},
    {"failure reported", FWSMI_REPORT, 0, 0, 8, NULL, false, false, 0x25, false,
     "<=== T (BIOS return not success)\r\n", 3, false, true},
    {"stop status ends the attempts, still a failure", FWSMI_REPORT, 0x29, FWSMI_BACK_ON_SUCCESS, 8, NULL, false,
     false, 0x29, false, "<=== T (BIOS return not success)\r\n", 1, false, true},
    {"stop status accepted", FWSMI_REPORT | FWSMI_STOP_ACCEPTED, 0x29, FWSMI_BACK_ON_SUCCESS, 8, NULL, false, false,
     0x29, true, "<=== T\r\n", 1, true, false},
    {"empty buffer 2 left out", 0, 0, 0, 0, NULL, false, false, 0, true, "<=== T\r\n", 1, false, false},
    {"one call only", 0, 0, 0, 8, FwsmiCallOnce, false, false, 0x25, false, "<=== T (BIOS return not success)\r\n",
     1, false, false},
    {"missing input: no call", 0, 0, 0, 8, NULL, true, false, 0, false, "<=== T (Input buffer is NULL)\r\n", 0,
     false, false},
    {"buffer not filled: no call", 0, 0, 0, 8, NULL, false, true, 0, false, "<=== T (Place failed)\r\n", 0, false,
     false},
};

TEST_F(FwsmiExchangeTest, ExchangeFollowsItsDescriptor) {
  for (const ExchangeCase &C : kCases) {
    SCOPED_TRACE(C.What);
    Start([&](vyr::emu::Profile &P) { P.BiosFaults = {{0x14, C.BiosStatus, 1, 0}}; });
    mIniSettings.Others.SMIErrorRetry = 2;
    mIniSettings.Others.SMIErrorRetryDelay = 0;
    const FWSMI_EXCHANGE X = {u"T", 0x14, C.Flags, C.StopStatus, u"Place failed",
                              {{FWSMI_REG_ESI, 16, C.Back1, 16}, {FWSMI_REG_EDI, FWSMI_SIZE_GIVEN, FWSMI_SKIP_EMPTY, 0}},
                              NULL, C.Issue};
    UINT8 In[16], Out[16], In2[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    memset(In, 0x5A, sizeof(In));
    memset(Out, 0xAA, sizeof(Out));
    FWSMI_EXCHANGE_IO Io = {};
    Io.In[0] = C.NullInput ? NULL : In;
    Io.Out[0] = Out;
    Io.In[1] = In2;
    Io.Size[1] = C.Size2;
    Io.Args.Ecx = 0x1234;
    size_t Before = M().SmiTranscript().size();
    std::string LogBefore = Log();

    EXPECT_EQ(C.Result, FwsmiExchange(&X, &Io, C.Missing));

    std::string Trace = Log().substr(LogBefore.size());
    EXPECT_EQ(0u, Trace.find("===> T\r\n")) << Trace;
    EXPECT_EQ(Trace.size() - strlen(C.Exit), Trace.rfind(C.Exit)) << Trace;
    ASSERT_EQ(C.Calls, M().SmiTranscript().size() - Before);
    if (C.Calls != 0) {
      const SMI_REGISTERS &Sent = M().SmiTranscript().back().In;
      EXPECT_EQ(0x1234u, Sent.Ecx);
      EXPECT_EQ(mFwsmi.Buffer[0].Address, Sent.Esi);
      EXPECT_EQ(C.Size2 == 0 ? 0 : mFwsmi.Buffer[1].Address, Sent.Edi);
      EXPECT_EQ(Sent.Edi, Io.Address[1]);
    }
    EXPECT_EQ(C.ReadBack ? 0x5A : 0xAA, Out[0]);
    EXPECT_EQ(C.Reported, Console().find("Error: FWSMI 14h failed.") != std::string::npos) << Console();
  }
}

}  // namespace
