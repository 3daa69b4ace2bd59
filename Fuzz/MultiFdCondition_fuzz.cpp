// [MULTI_FD] entries as arbitrary text, on one machine with known ports, PCI
// dwords, memory and model name: the selection and each matcher must stay
// inside the entry, leave the settings record as it was, and hand out only
// a name that an entry from FD#01 on carries, of at most 39 characters.
//
// Input: a mode byte, then the text. Mode bit 4 set: the text is one entry
// for the matcher (mode >> 5) % 5; clear: the text's lines are consecutive
// entries from FD#00 (bit 3 set: from the index the next byte gives, % 100)
// and the selection runs. Mode & 7 == 0 traces everything to the screen.
// At most 24 lines become entries (4 when traced: each traced line costs a
// screen line): more entries only repeat the walk.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzHarness.h"
#include "Image/MultiFd.h"
#include "Smi/PlatformQueries.h"

namespace {

void Machine(vyr::emu::Profile &P) {
  P.Platform.ModelName = "Vyr 14 A";  // Fuzz/MultiFdCondition.dict carries the values below
  P.IoPorts = {{0xC0, 0x1234FE03}, {0x538, 0x0100}};
  P.Pci = {{0, 0x1F, 0, 0x00, 0x3B0B8086}, {0, 0x1F, 2, 0x80, 0x00007007}};
  P.MemoryPatches = {{0x20000000, {0x41, 0x0A, 0x00, 0x00}}};
}

void Ready(vyr::emu::Machine &) {
  PlatformQueryResetState();
  PLATFORM_INFO Info;
  fuzz::Require(SMI_IsSupport() && SMI_GetPlatformInfo(&Info));
}

using Matcher = BOOLEAN (*)(CHAR8 *Entry, UINTN *Next);
const Matcher kMatchers[] = {IsMatch_IO, IsMatch_PCI, IsMatch_MPCIIO, IsMatch_ID, IsMatch_MEMORY};

// The entries the last input set, to clear only those.
std::vector<size_t> &Used() {
  static std::vector<size_t> Indexes;
  return Indexes;
}

// Whether Name is a field of Entry, as written or with '-' read as ','.
bool IsFieldOf(const std::string &Name, const std::string &Entry) {
  std::string Split = Entry;
  for (char &C : Split) C = C == '-' ? ',' : C;
  return ("," + Entry + ",").find("," + Name + ",") != std::string::npos ||
         ("," + Split + ",").find("," + Name + ",") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  fuzz::SharedMachine(Machine, Ready);
  fuzz::Reader In(Data, Size);
  const uint8_t Mode = In.U8();
  const bool Traced = (Mode & 7) == 0;
  fuzz::TraceToScreen(Traced);
  const size_t First = (Mode & 0x18) == 0x08 ? In.U8() % INI_MULTI_FD_ENTRIES : 0;
  const std::vector<uint8_t> Rest = In.Rest();

  if ((Mode & 0x10) != 0) {
    // An exact-size terminated copy: any read past the entry is caught.
    std::vector<CHAR8> Entry(Rest.begin(), Rest.end());
    Entry.push_back(0);
    const size_t Length = strnlen(Entry.data(), INI_TEXT_SIZE);
    UINTN Next = 0;
    if (kMatchers[(Mode >> 5) % 5](Entry.data(), &Next)) fuzz::Require(Next <= Length);
    return 0;
  }

  for (size_t Index : Used()) mIniSettings.MULTI_FD.Fd[Index][0] = 0;
  Used().clear();
  std::vector<std::string> Entries(INI_MULTI_FD_ENTRIES);
  const size_t Last = std::min<size_t>(INI_MULTI_FD_ENTRIES, First + (Traced ? 4 : 24));
  size_t Index = First;
  for (size_t At = 0; At <= Rest.size() && Index < Last; Index++) {
    size_t End = At;
    while (End < Rest.size() && Rest[End] != '\n') End++;
    std::string Line(Rest.begin() + At, Rest.begin() + End);
    Line = Line.substr(0, std::min(strnlen(Line.c_str(), Line.size()), (size_t)INI_TEXT_SIZE - 1));
    std::memcpy(mIniSettings.MULTI_FD.Fd[Index], Line.c_str(), Line.size() + 1);
    Entries[Index] = Line;
    Used().push_back(Index);
    At = End + 1;
  }

  const bool Selected = SelectMultiFd();
  CHAR16 Wide[MULTI_FD_NAME_CHARS + 1];
  GetMultiFdFileName(Wide, MULTI_FD_NAME_CHARS + 1);
  const std::string Fd = mMultiFd.FdFile, Me = GetMultiFdMeFileName(), Ini = GetMultiFdIniFileName();
  fuzz::Require(Fd.size() <= MULTI_FD_NAME_CHARS && Me.size() <= MULTI_FD_NAME_CHARS &&
                Ini.size() <= MULTI_FD_NAME_CHARS);
  fuzz::Require(StrLen(Wide) == Fd.size());
  fuzz::Require(Selected == !Fd.empty());
  bool Carried = false;
  for (size_t I = 1; I < INI_MULTI_FD_ENTRIES && Selected && !Carried; I++) Carried = IsFieldOf(Fd, Entries[I]);
  fuzz::Require(!Selected || Carried);
  for (size_t I : Used()) fuzz::Require(Entries[I] == mIniSettings.MULTI_FD.Fd[I]);
  return 0;
}
