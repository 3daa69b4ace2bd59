// What the fuzz targets share: a reader over the input, one emulated PC per
// process (built once, attached, its SMI transport set up), and the BIOS
// answers scripted from the input.
//
// A machine per input, or a reset of every module per input, costs a hundred
// times the parser under test: each target builds the machine once and
// returns to their load state only the modules its parser touches.
#ifndef VYR_FUZZ_HARNESS_H_
#define VYR_FUZZ_HARNESS_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "BaseLib.h"
#include "Bios/EmuBios.h"
#include "Config/IniSettings.h"
#include "Base/Trace.h"
#include "Machine/Machine.h"
#include "../FlashUtilityPkg/Platform/Host/HostPlatform.h"
#include "Smi/FwsmiTransport.h"
#include "Base/Settings.h"

namespace fuzz {

// A property a target checks; any failure is a finding.
inline void Require(bool Holds) {
  if (!Holds) __builtin_trap();
}

// The input read front to back; past its end every read gives zeros.
class Reader {
 public:
  Reader(const uint8_t *Data, size_t Size) : Data_(Data), Size_(Size) {}

  size_t Left() const { return Size_ - Used_; }
  uint8_t U8() {
    uint8_t Value = 0;
    Fill(&Value, 1);
    return Value;
  }
  uint16_t U16() { return static_cast<uint16_t>(U8() | (U8() << 8)); }
  uint32_t U32() { return U16() | (static_cast<uint32_t>(U16()) << 16); }
  // Count bytes into Out, zeros past the end of the input.
  void Fill(void *Out, size_t Count) {
    size_t Take = Count < Left() ? Count : Left();
    if (Take != 0) std::memcpy(Out, Data_ + Used_, Take);
    if (Take < Count) std::memset(static_cast<uint8_t *>(Out) + Take, 0, Count - Take);
    Used_ += Take;
  }
  // The next Count bytes (fewer at the end), as an exact-size copy so that
  // any read past them is caught.
  std::vector<uint8_t> Bytes(size_t Count) {
    size_t Take = Count < Left() ? Count : Left();
    std::vector<uint8_t> Out(Data_ + Used_, Data_ + Used_ + Take);
    Used_ += Take;
    return Out;
  }
  std::vector<uint8_t> Rest() { return Bytes(Left()); }

 private:
  const uint8_t *Data_;
  size_t Size_;
  size_t Used_ = 0;
};

// The answers of the scripted BIOS functions come from here, in call order.
inline Reader *&Answers() {
  static Reader *Current = nullptr;
  return Current;
}

inline Reader &AnswerBytes() {
  static Reader Empty(nullptr, 0);
  return Answers() != nullptr ? *Answers() : Empty;
}

// Count answer bytes written at a physical address the utility handed over.
inline void AnswerInto(EMU_BIOS *Bios, uint32_t Address, size_t Count) {
  if (Address == 0 || Count == 0) return;
  std::vector<uint8_t> Bytes(Count);
  AnswerBytes().Fill(Bytes.data(), Count);
  EmuBiosWritePhysical(Bios, Address, Bytes.data(), Count);
}

using ProfileEdit = void (*)(vyr::emu::Profile &P);
using MachineReady = void (*)(vyr::emu::Machine &M);

// Calls and console text the machine keeps before it is built anew: its
// transcripts grow with every run.
constexpr size_t kRebuildSmiCalls = 200000;
constexpr size_t kRebuildConsoleBytes = 8u << 20;

// The process's machine: a 128 KiB flash part, no volumes (nothing reaches
// the host's file system), the utility's default settings without SMI
// retries, the trace buffer allocated and the FWSMI transport initialised.
// Edit changes the profile before the build; Ready runs after each build
// (handlers, queries asked once).
inline vyr::emu::Machine &SharedMachine(ProfileEdit Edit = nullptr, MachineReady Ready = nullptr) {
  static std::unique_ptr<vyr::emu::Machine> Machine;
  if (Machine != nullptr && Machine->SmiTranscript().size() < kRebuildSmiCalls &&
      Machine->Screen().Transcript().size() < kRebuildConsoleBytes) {
    // Each run writes from the top: a full screen would scroll at every line.
    Machine->Screen().SetCursorPosition(0, 0);
    return *Machine;
  }
  vyr::emu::Profile P = vyr::emu::Profile::Default();
  P.Flash.Size = 0x20000;
  P.Volumes.clear();
  if (Edit != nullptr) Edit(P);
  HostPlatformAttach(nullptr);
  Machine.reset();
  Machine = std::make_unique<vyr::emu::Machine>(P);
  HostPlatformAttach(Machine.get());
  // The transport's buffers lay in the old machine's memory.
  FwsmiResetState();
  TraceResetState();
  ZeroMem(&mIniSettings, sizeof(mIniSettings));
  InitialIniConfig();
  mIniSettings.Others.SMIErrorRetry = 0;
  mIniSettings.Others.SMIErrorRetryDelay = 0;
  DebugPrint(4, u"");  // the first trace allocates the buffer and starts the log
  Require(AllocateFwsmiBuffers() && InitialSmi());
  if (Ready != nullptr) Ready(*Machine);
  return *Machine;
}

// The trace settings of one run: usually no trace is formatted (that is most
// of a run's cost); with OnScreen every one is, into the console, so that
// the formatter reads the values the parser left.
inline void TraceToScreen(bool OnScreen) {
  mIniSettings.Log_file.LogOnScreen = OnScreen ? 1 : 0;
  mTrace.DebugFlag = 0;
  mTrace.DebugLevel = 0;
}

// The emulated BIOS's own answer to a function, changed by the input: each
// call XORs the next input bytes onto AL, AH and ECX, then onto the bytes
// the answer left in the buffers Regions names. An input of zeros is the
// real answer, so the targets start from valid answers without seed files.
struct AnswerRegion {
  char Register;  // 'c' ECX, 'S' ESI, 'D' EDI: the buffer's physical address
  uint32_t Length;
};

struct ChangedAnswer {
  uint8_t Function = 0;
  EMU_BIOS_HANDLER Real = nullptr;
  AnswerRegion Regions[2] = {};
};

inline ChangedAnswer &ChangedAnswerFor(uint8_t Function) {
  static ChangedAnswer Table[256];
  return Table[Function];
}

inline void XorInto(EMU_BIOS *Bios, uint32_t Address, uint32_t Length) {
  if (Address == 0 || Length == 0 || AnswerBytes().Left() == 0) return;
  std::vector<uint8_t> Mask(Length), Bytes(Length);
  AnswerBytes().Fill(Mask.data(), Length);
  if (!EmuBiosReadPhysical(Bios, Address, Bytes.data(), Length)) return;
  for (uint32_t Index = 0; Index < Length; Index++) Bytes[Index] ^= Mask[Index];
  EmuBiosWritePhysical(Bios, Address, Bytes.data(), Length);
}

inline UINT8 ChangedAnswerHandler(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  ChangedAnswer &Row = ChangedAnswerFor(static_cast<uint8_t>((Regs->Eax >> 8) & 0xFF));
  const SMI_REGISTERS In = *Regs;
  UINT8 Status = Row.Real != nullptr ? Row.Real(Bios, Regs) : 0xEF;
  Reader &Input = AnswerBytes();
  Status ^= Input.U8();
  Regs->Eax ^= static_cast<uint32_t>(Input.U8()) << 8;
  Regs->Ecx ^= Input.U32();
  for (const AnswerRegion &Region : Row.Regions) {
    uint32_t Address = Region.Register == 'c' ? In.Ecx : Region.Register == 'S' ? In.Esi : In.Edi;
    XorInto(Bios, Address, Region.Length);
  }
  return Status;
}

// Puts the changed answer in front of the BIOS's own handler for Function.
inline void ChangeAnswer(vyr::emu::Machine &M, uint8_t Function, AnswerRegion First = {},
                         AnswerRegion Second = {}) {
  ChangedAnswer &Row = ChangedAnswerFor(Function);
  Row.Function = Function;
  Row.Real = M.Bios().Handlers[Function];
  Row.Regions[0] = First;
  Row.Regions[1] = Second;
  EmuBiosRegisterHandler(&M.Bios(), Function, ChangedAnswerHandler);
}

// Every answer the flows ask for, supported, so that a zero input reaches
// each parser's success path.
inline void SupportEverything(vyr::emu::Profile &P) {
  P.Platform.BiosCheck.Present = true;
  P.Platform.CommandFilter.Present = true;
  P.Platform.CommandFilter.Bitmap = {0xFF, 0x7F, 0x3F, 0x1F};
  P.Checks.ConditionalDataSupported = true;
  P.Checks.Password = "vyr";
  P.Checks.CommonFlash.Supported = true;
  P.Checks.SecureCapsule.Supported = true;
  P.Checks.Pfat = true;
  P.Checks.EcPartSizes = {0x10000, 0x8000};
}

}  // namespace fuzz

#endif  // VYR_FUZZ_HARNESS_H_
