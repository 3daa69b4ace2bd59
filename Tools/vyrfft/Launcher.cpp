#include "vyrfft/Launcher.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>

#include "Guids.h"
#include "Bios/EmuBiosSetup.h"
#include "Machine/Machine.h"
#include "Config/CommandLine.h"
#include "Config/IniSettings.h"
#include "Config/IniStore.h"
#include "NamedFunction.h"
#include "Console/FileAccess.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Startup.h"
#include "Platform/Host/HostPlatform.h"
#include "Base/Banner.h"
#include "Config/IniLoad.h"
#include "Console/Usage.h"
#include "DriverEntry.h"

namespace vyr::fft {

namespace {

// The names a shell launcher looks up, in the order it calls them.
const char16_t *const kEntryNames[] = {u"SetCurrentDirectory", u"SetCommandLineArgument", u"SetImageHandle",
                                       u"SetShellExecuteCallback", u"EndProgram", u"ShellFlashMain",
                                       u"UefiFlashMain"};

// Host words are UTF-8; VyrfftMain has refused any that is not.
std::u16string Widen(const std::string &Text) { return emu::Utf8ToUtf16(Text); }

std::string Narrow(const char16_t *Text) { return emu::Utf16ToUtf8(Text); }

// A host word for a message: printable ASCII as it is, every other byte as \xHH.
std::string ShowBytes(const std::string &Text) {
  std::string Out;
  char Hex[8];
  for (unsigned char C : Text) {
    if (C >= 0x20 && C < 0x7F) {
      Out += static_cast<char>(C);
    } else {
      std::snprintf(Hex, sizeof(Hex), "\\x%02X", C);
      Out += Hex;
    }
  }
  return Out;
}

// A message that may carry text from the machine's files, safe for a terminal.
std::string Shown(const char *Text) { return emu::VisibleUtf8(emu::Utf8ToUtf16(Text)); }

std::vector<std::string> gShellCommands;

void EFIAPI ShellExecute(const CHAR16 *CommandLine) {
  // No UEFI shell stands behind the emulated PC: the command is recorded and reported.
  gShellCommands.push_back(Narrow(CommandLine));
}

// A regular file in one read: a driver image carries its payload, a whole
// BIOS image.
bool ReadFile(const std::string &Path, std::vector<uint8_t> &Data) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return false;
  std::error_code Error;
  const bool Regular = std::filesystem::is_regular_file(Path, Error);
  const uintmax_t Size = Regular ? std::filesystem::file_size(Path, Error) : 0;
  if (!Regular || Error) {
    Data.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
    return true;
  }
  Data.clear();
  Data.reserve(static_cast<size_t>(Size));
  emu::AdviseHugePages(Data.data(), static_cast<size_t>(Size));
  Data.resize(static_cast<size_t>(Size));
  return static_cast<bool>(In.read(reinterpret_cast<char *>(Data.data()), static_cast<std::streamsize>(Size)));
}

// Detaches the platform and drops the machine whatever way the run ends.
struct Attachment {
  explicit Attachment(emu::Machine *M) { HostPlatformAttach(M); }
  ~Attachment() { HostPlatformAttach(nullptr); }
};

// Runs one piece of the utility for a developer; the module is set up as for a run.
int RunDeveloperCommand(const Options &Opt, std::ostream &Log) {
  if (Opt.showUsage) {
    PrintBanner(TRUE);
    DisplayUsage();
    return kExitOk;
  }
  std::vector<uint8_t> Text;
  if (!ReadFile(Opt.dumpSettings, Text)) {
    Log << "vyrfft: cannot read " << Opt.dumpSettings << "\n";
    return kExitUsage;
  }
  InitialIniConfig();
  UINT32 Length = static_cast<UINT32>(Text.size());
  Text.push_back(0);
  if (!LoadOption(reinterpret_cast<CHAR8 *>(Text.data()), &Length, TRUE)) {
    Log << "vyrfft: " << Opt.dumpSettings << " could not be loaded\n";
    return kExitRunFailed;
  }
  // The dump goes to the log at level 4, as -dbg writes it: into a fresh log,
  // which is then shown.
  EfiDeleteFile(mTrace.LogFileName);
  mTrace.DebugFlag = 1;
  mTrace.DebugLevel = 4;
  DumpIniConfig();
  VOID *Dump = nullptr;
  UINT32 Size = 0;
  if (!EfiReadFile(mTrace.LogFileName, &Dump, &Size)) {
    Log << "vyrfft: the settings dump could not be read back from the log\n";
    return kExitRunFailed;
  }
  std::cout.write(static_cast<const char *>(Dump), Size);
  FreePool(Dump);
  return kExitOk;
}

}  // namespace

std::string DescribeCompletion(const EMU_COMPLETION &C) {
  if (C.Requests == 0) {
    return C.MalformedRequests == 0 ? "vyrfft: no completion request was sent"
                                    : "vyrfft: no completion request was accepted (" +
                                          std::to_string(C.MalformedRequests) + " malformed)";
  }
  static const char *const kActions[] = {"return to the OS", "shut down", "reboot", "enter S3"};
  static const char *const kStatuses[] = {"AP Terminated", "Flash Entire", "Flash Partial"};
  std::string What = C.Action < 4 ? std::string("the platform would now ") + kActions[C.Action]
                                  : "the platform was asked for an unknown action";
  std::string Line = "vyrfft: " + What + " (action " + std::to_string(C.Action) + ", status " +
                     std::to_string(C.Status);
  if (C.Status < 3) Line += std::string(" ") + kStatuses[C.Status];
  if (C.ClearCmos != 0) Line += ", clear CMOS";
  return Line + ")";
}

std::string DescribeBlockWrites(const std::vector<emu::BlockWrite> &Blocks) {
  if (Blocks.empty()) {
    return "vyrfft: no flash block was written (15h)";
  }
  size_t Written = 0, Skipped = 0, Locked = 0, Failed = 0;
  for (const emu::BlockWrite &B : Blocks) {
    const std::string Outcome = emu::BlockWriteOutcome(B.Status);
    (Outcome == "written" ? Written : Outcome == "skipped" ? Skipped : Outcome == "locked" ? Locked : Failed)++;
  }
  return "vyrfft: flash blocks (15h): " + std::to_string(Written) + " written, " + std::to_string(Skipped) +
         " skipped (0x29), " + std::to_string(Locked) + " locked (0x2A), " + std::to_string(Failed) + " failed, of " +
         std::to_string(Blocks.size());
}

std::string DescribeModeledTime(const emu::ModeledTime &Time, const EMU_FLASH_TIMING &Timing) {
  const auto Seconds = [](uint64_t Ns) {
    char Text[32];
    std::snprintf(Text, sizeof(Text), "%.3f s", static_cast<double>(Ns) / 1e9);
    return std::string(Text);
  };
  char Bus[64];
  std::snprintf(Bus, sizeof(Bus), "SPI at %.3g MHz, reads on %u data line%s", Timing.BusKHz / 1000.0,
                unsigned(Timing.ReadWidth), Timing.ReadWidth == 1 ? "" : "s");
  return "vyrfft: modeled time on a real flash part: " + Seconds(Time.TotalNs()) + " (read " + Seconds(Time.ReadNs) +
         ", erase " + Seconds(Time.EraseNs) + ", program " + Seconds(Time.ProgramNs) + ", SMI overhead " +
         Seconds(Time.SmiOverheadNs) + "; " + Bus + ")";
}

std::string DescribePowerCut(const EMU_BIOS &Bios) {
  char Address[16];
  std::snprintf(Address, sizeof(Address), "0x%08X", Bios.Flash.PowerCutAddress);
  return "vyrfft: the power was cut after block write " + std::to_string(Bios.Flash.BlocksWritten) + " at " + Address +
         "; the flash keeps what was written, and the " + std::to_string(Bios.PoweredOffCalls) +
         " SMI calls and the console output after it never happened on a real machine";
}

std::string DescribeDroppedWrites(const std::vector<emu::DroppedWrite> &Dropped) {
  if (Dropped.empty()) {
    return "vyrfft: the machine froze at the cut; the run asked for no variable or file change after it";
  }
  uint64_t Calls[2] = {0, 0};
  std::vector<std::string> Names[2];
  for (const emu::DroppedWrite &D : Dropped) {
    const int Kind = D.Variable ? 0 : 1;
    Calls[Kind] += D.Calls;
    std::string Name;
    // Names come from the run (paths from its command line): text, never terminal control.
    for (unsigned char C : D.Variable ? D.Name : D.Where + ":" + D.Name) Name += C < 0x20 || C == 0x7F ? '?' : char(C);
    if (std::find(Names[Kind].begin(), Names[Kind].end(), Name) == Names[Kind].end()) Names[Kind].push_back(Name);
  }
  const auto Part = [&](int Kind, const char *What) {
    std::string Text = std::to_string(Calls[Kind]) + " " + What + (Calls[Kind] == 1 ? " write" : " writes");
    for (size_t I = 0; I < Names[Kind].size() && I < 4; I++) Text += (I == 0 ? " (" : ", ") + Names[Kind][I];
    if (Names[Kind].size() > 4) Text += ", ...";
    return Names[Kind].empty() ? Text : Text + ")";
  };
  return "vyrfft: the machine froze at the cut and dropped what the run wrote after it: " + Part(0, "variable") +
         " and " + Part(1, "file");
}

std::string DescribeSaveFailure(const std::string &Reason) {
  return "vyrfft: error: the flash contents could not be saved (" + Reason +
         "); flash.bin keeps the flash from before the run, so what this run wrote is lost";
}

std::string DescribeIdentity(const EMU_BIOS &Bios) {
  CHAR8 Model[EMU_FLASH_MODEL_CHARS] = {};
  CHAR8 Version[EMU_FLASH_VERSION_CHARS] = {};
  std::string Source = "the BVDT in its flash";
  if (!EmuFlashBvdtIdentity(&Bios.Flash, Model, sizeof(Model), Version, sizeof(Version))) {
    // No BVDT in the flash: the BIOS answers with its profile's identity.
    Source = "its profile (no BVDT in the flash)";
    std::u16string M, V;
    for (CHAR16 C : Bios.Platform.ModelName) { if (C == 0) break; M += C; }
    for (CHAR16 C : Bios.Platform.Version) { if (C == 0) break; V += C; }
    return "vyrfft: the BIOS reports model " + emu::VisibleUtf8(M) + ", version " + emu::VisibleUtf8(V) + ", from " +
           Source;
  }
  // The BVDT's 8-bit text is taken byte for byte, as the utility widens it.
  auto Wide = [](const CHAR8 *Text) {
    std::u16string Out;
    for (; *Text != 0; Text++) Out += static_cast<char16_t>(static_cast<UINT8>(*Text));
    return emu::VisibleUtf8(Out);
  };
  return "vyrfft: the BIOS reports model " + Wide(Model) + ", version " + Wide(Version) + ", from " + Source;
}

int Run(const Options &Opt, std::ostream &Out, std::ostream &Log) {
  std::unique_ptr<emu::Machine> Machine;
  try {
    if (!Opt.profile.empty() && !std::ifstream(Opt.machineDir + "/profile.json")) {
      std::filesystem::create_directories(Opt.machineDir);
      emu::Profile::Load(Opt.profile).Save(Opt.machineDir + "/profile.json");
    }
    Machine = emu::Machine::OpenDirectory(Opt.machineDir);
  } catch (const std::exception &E) {
    Log << "vyrfft: machine " << Opt.machineDir << ": " << Shown(E.what()) << "\n";
    return kExitLoadFailed;
  }
  // Opening the machine was the reset a waiting secure capsule needed.
  if (!Machine->ResetNote().empty()) Log << "vyrfft: " << Machine->ResetNote() << "\n";
  if (Opt.identity) {
    Out << DescribeIdentity(Machine->Bios()) << "\n";
    return kExitOk;
  }
  if (!Opt.exportBios.empty()) {
    std::vector<uint8_t> Setup(EmuBiosSetupSize());
    std::ofstream File(Opt.exportBios, std::ios::binary);
    if (!EmuBiosSaveSetup(&Machine->Bios(), Machine->SmiCommandPort(), Setup.data(), Setup.size()) ||
        !File.write(reinterpret_cast<const char *>(Setup.data()), static_cast<std::streamsize>(Setup.size())) ||
        !File.flush()) {
      Log << "vyrfft: cannot write the BIOS set-up " << Shown(Opt.exportBios.c_str()) << "\n";
      return kExitLoadFailed;
    }
    return kExitOk;
  }
  if (Machine->Volumes().empty()) {
    Log << "vyrfft: the machine has no file volume to load the driver from\n";
    return kExitLoadFailed;
  }
  const bool Terminal = Opt.terminal == 1 || (Opt.terminal == -1 && isatty(STDOUT_FILENO));
  Machine->SetTerminalMode(Terminal, Terminal ? &Out : nullptr);
  for (char16_t Key : Opt.keys) {
    Machine->Keys().Queue(Key == u'\x1B' ? 0x17 : 0, Key == u'\x1B' ? u'\0' : Key);
  }
  Attachment Attached(Machine.get());

  EFI_HANDLE Volume = Machine->Volumes()[0]->Handle;
  std::string DriverPath = Opt.driver.empty() ? Machine->Volumes()[0]->HostRoot() + "/" + Opt.program : Opt.driver;
  std::vector<uint8_t> Image;
  if (!ReadFile(DriverPath, Image)) {
    Log << "vyrfft: cannot read the driver image " << DriverPath << "\n";
    return kExitLoadFailed;
  }

  nlohmann::json Extra = nlohmann::json::object();
  Extra["driver"] = DriverPath;
  // Every ending saves what the BIOS wrote; a save that fails outranks any
  // other outcome, since the machine directory no longer holds what the run did.
  auto Finish = [&](int Code, const std::string &Summary = "") {
    std::string SaveError;
    if (!Machine->SaveFlashChanges(&SaveError)) Code = kExitSaveFailed;
    Extra["exitCode"] = Code;
    Extra["flashSaveError"] = SaveError.empty() ? nlohmann::json(nullptr) : nlohmann::json(SaveError);
    Extra["shellCommands"] = gShellCommands;
    const std::string &Screen = Machine->Screen().Transcript();
    // After a power cut nothing reached the screen.
    if (!Terminal) Out << (Machine->PoweredOff() ? Screen.substr(0, Machine->PowerCutConsoleLength()) : Screen);
    if (!Opt.report.empty()) {
      try {
        Machine->WriteReport(Opt.report, Extra);
      } catch (const std::exception &E) {
        Log << "vyrfft: report " << Opt.report << ": " << Shown(E.what()) << "\n";
      }
    }
    Log << Summary;
    if (!SaveError.empty()) Log << DescribeSaveFailure(SaveError) << "\n";
    return Code;
  };

  EFI_HANDLE Driver = nullptr;
  try {
    Driver = Machine->LoadImage(Image, Volume, u"\\" + Widen(Opt.program));
  } catch (const std::exception &E) {
    Log << "vyrfft: " << DriverPath << ": " << Shown(E.what()) << "\n";
    return Finish(kExitLoadFailed);
  }
  // The machine holds its own copy now.
  std::vector<uint8_t>().swap(Image);
  // A fresh image: the module starts from its load state.
  ResetModuleState();
  EFI_STATUS Status = NorvelDriverEntry(Driver, nullptr);
  Extra["driverEntryStatus"] = Status;
  if (EFI_ERROR(Status)) {
    Log << "vyrfft: driver entry failed (status 0x" << std::hex << Status << std::dec << ")\n";
    Machine->UnloadImage(Driver);
    return Finish(kExitLoadFailed);
  }

  NAMED_FUNCTION_PROTOCOL *Protocol = nullptr;
  if (EFI_ERROR(Machine->Protocols().LocateProtocol(gNamedFunctionProtocolGuid, (void **)&Protocol)) || !Protocol) {
    Log << "vyrfft: the named-function protocol is not installed\n";
    Machine->UnloadImage(Driver);
    return Finish(kExitLoadFailed);
  }
  void *Entries[7] = {};
  for (size_t I = 0; I < 7; I++) {
    Entries[I] = Protocol->GetFunctionByName(kEntryNames[I]);
    if (Entries[I] == nullptr) {
      Log << "vyrfft: entry " << Narrow(kEntryNames[I]) << " not found\n";
      Machine->UnloadImage(Driver);
      return Finish(kExitLoadFailed);
    }
  }
  Log << "vyrfft: driver loaded from " << DriverPath << "; all seven entries resolved by name\n";
  auto SetDirectory = reinterpret_cast<SET_CURRENT_DIRECTORY>(Entries[0]);
  auto SetArguments = reinterpret_cast<SET_COMMAND_LINE_ARGUMENT>(Entries[1]);
  auto SetImage = reinterpret_cast<SET_IMAGE_HANDLE>(Entries[2]);
  auto SetCallback = reinterpret_cast<SET_SHELL_EXECUTE_CALLBACK>(Entries[3]);
  auto End = reinterpret_cast<END_PROGRAM>(Entries[4]);
  auto ShellMain = reinterpret_cast<SHELL_FLASH_MAIN>(Entries[5]);
  auto UefiMain = reinterpret_cast<UEFI_FLASH_MAIN>(Entries[6]);

  // The launcher itself, as the shell application the driver was started from.
  EFI_HANDLE Launcher = Machine->CreateLoadedImage(Volume, u"\\VyrFFTLauncher.efi");
  std::u16string Directory = Widen(Opt.currentDirectory);
  std::vector<std::u16string> Words;
  Words.push_back(Widen(Opt.program));
  for (const std::string &Arg : Opt.utilityArgs) Words.push_back(Widen(Arg));
  std::vector<CHAR16 *> Argv;
  for (auto &W : Words) Argv.push_back(W.data());

  SetImage(Launcher, 1);
  SetDirectory(Directory.c_str());
  SetCallback(ShellExecute);
  SetArguments(static_cast<UINT32>(Argv.size()), Argv.data());
  if (Opt.showUsage || !Opt.dumpSettings.empty()) {
    int Code = RunDeveloperCommand(Opt, Log);
    Machine->UnloadImage(Driver);
    Machine->UnloadImage(Launcher);
    return Finish(Code);
  }
  const char *MainName = Opt.firmware ? "UefiFlashMain" : "ShellFlashMain";
  BOOLEAN MainResult = Opt.firmware ? UefiMain() : ShellMain();
  // A capsule accepted during the run is written by the reboot that 16h asks for.
  const bool CapsuleWaiting = Machine->Bios().Signed.CapsulePending != 0;
  BOOLEAN EndResult = End();
  const EMU_SIGNED &Signed = Machine->Bios().Signed;
  const bool CapsuleWritten = CapsuleWaiting && Signed.CapsulePending == 0 && Signed.LastApply != EMU_SIGNED_APPLY_NONE;
  Status = Machine->UnloadImage(Driver);
  Machine->UnloadImage(Launcher);

  Extra["mainEntry"] = MainName;
  Extra["mainResult"] = MainResult != 0;
  Extra["endProgramResult"] = EndResult != 0;
  Extra["unloadStatus"] = Status;
  const EMU_COMPLETION &Completion = Machine->Bios().Completion;
  Extra["completionRequest"] = Completion.Requests == 0
                                   ? nlohmann::json(nullptr)
                                   : nlohmann::json{{"clearCmos", Completion.ClearCmos},
                                                    {"action", Completion.Action},
                                                    {"status", Completion.Status}};
  // A capsule that the reset did not write whole is a failed update, whatever the run said before it.
  const bool CapsuleFailed = CapsuleWritten && Signed.LastApply != EMU_SIGNED_APPLY_DONE;
  int Code = Machine->PoweredOff() ? kExitPowerCut
             : !MainResult || CapsuleFailed ? kExitRunFailed
             : !EndResult          ? kExitCompletionRefused
                                   : kExitOk;
  std::string Summary = "vyrfft: " + std::string(MainName) + " returned " + (MainResult ? "TRUE" : "FALSE") +
                        ", EndProgram returned " + (EndResult ? "TRUE" : "FALSE") + "; driver unloaded\n";
  Summary += DescribeBlockWrites(Machine->BlockWrites()) + "\n";
  Summary += DescribeModeledTime(Machine->Modeled(), Machine->Bios().Flash.Timing) + "\n";
  if (Machine->PoweredOff()) {
    Summary += DescribePowerCut(Machine->Bios()) + "\n";
    Summary += DescribeDroppedWrites(Machine->DroppedWrites()) + "\n";
  } else {
    Summary += DescribeCompletion(Completion) + "\n";
  }
  if (CapsuleWritten) {
    Summary += "vyrfft: reset: capsule " +
               std::string(Signed.LastApply == EMU_SIGNED_APPLY_DONE     ? "applied"
                           : Signed.LastApply == EMU_SIGNED_APPLY_POWER_CUT ? "power cut"
                                                                            : "failed") +
               " (" +
               std::to_string(Signed.LastApplyBlocks) + " blocks)\n";
  }
  return Finish(Code, Summary);
}

int VyrfftMain(const std::vector<std::string> &Args, std::ostream &Out, std::ostream &Err) {
  Options Opt;
  std::string Error;
  if (!ParseOptions(Args, Opt, Error)) {
    Err << "vyrfft: " << Error << "\n";
    return kExitUsage;
  }
  if (Opt.help) {
    Out << UsageText();
    return kExitOk;
  }
  // The utility gets UTF-16 words: a byte that is not UTF-8 would name another
  // file than the one meant, so such a word is refused.
  std::vector<std::string> Words = Opt.utilityArgs;
  Words.push_back(Opt.program);
  Words.push_back(Opt.currentDirectory);
  for (const std::string &Word : Words) {
    std::u16string Ignored;
    if (!emu::DecodeUtf8(Word, &Ignored)) {
      Err << "vyrfft: argument \"" << ShowBytes(Word) << "\" is not valid UTF-8 text\n";
      return kExitUsage;
    }
  }
  gShellCommands.clear();
  return Run(Opt, Out, Err);
}

}  // namespace vyr::fft
