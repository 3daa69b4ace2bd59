#include "Machine/Machine.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "Bios/SignedFunctions.h"
#include "Machine/PeImage.h"

namespace vyr::emu {

namespace fs = std::filesystem;

const EFI_GUID kAcpi10TableGuid = {0xEB9D2D30, 0x2D88, 0x11D3, {0x9A, 0x16, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
const EFI_GUID kAcpi20TableGuid = {0x8868E871, 0xE4F1, 0x11D3, {0xBC, 0x22, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81}};
const EFI_GUID kLoadedImageProtocolGuid = {0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
const EFI_GUID kSimpleFileSystemProtocolGuid = {0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
const EFI_GUID kDevicePathProtocolGuid = {0x09576E91, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

namespace {

constexpr uint64_t kFsegmentBase = 0xE0000;
constexpr uint64_t kFsegmentSize = 0x20000;
constexpr size_t kMaxPortWrites = 65536;
constexpr uint32_t kBootServicesCode = 3;
constexpr uint32_t kBootServicesData = 4;

BOOLEAN BiosRead(VOID *Context, UINT64 Address, VOID *Buffer, UINTN Length) {
  return static_cast<Machine *>(Context)->ReadPhysical(Address, Buffer, Length) ? TRUE : FALSE;
}

BOOLEAN BiosWrite(VOID *Context, UINT64 Address, CONST VOID *Buffer, UINTN Length) {
  return static_cast<Machine *>(Context)->WritePhysical(Address, Buffer, Length) ? TRUE : FALSE;
}

std::string Hex(uint64_t Value, int Digits) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%0*llX", Digits, static_cast<unsigned long long>(Value));
  return Text;
}

nlohmann::json RegistersJson(const SMI_REGISTERS &R) {
  return {{"eax", Hex(R.Eax, 8)}, {"ebx", Hex(R.Ebx, 8)}, {"ecx", Hex(R.Ecx, 8)},
          {"edx", Hex(R.Edx, 8)}, {"esi", Hex(R.Esi, 8)}, {"edi", Hex(R.Edi, 8)}};
}

// The profile's answers for 10h, 11h and 1Ch (the profile reader has checked
// the lengths).
void ApplyPlatformProfile(const PlatformConfig &Config, EMU_PLATFORM *Platform) {
  EmuPlatformInit(Platform);
  Platform->Permission = Config.Permission;
  Platform->InterfaceVersion = Config.InterfaceVersion;
  Platform->AcPlug = Config.AcPlug;
  Platform->DcLife = Config.DcLife;
  Platform->DcBound = Config.DcBound;
  Platform->Help1 = Config.Help1;
  Platform->Help2 = Config.Help2;
  Platform->VendorId = Config.VendorId;
  Platform->BiosCheckPresent = Config.BiosCheck.Present;
  Platform->BiosCheckOffset = Config.BiosCheck.Offset;
  Platform->BiosCheckSize = Config.BiosCheck.Size;
  Platform->CheckBvdt = Config.BiosCheck.CheckBvdt;
  Platform->CommandFilterPresent = Config.CommandFilter.Present;
  Platform->CommandFilterOffset = Config.CommandFilter.Offset;
  Platform->CommandFilterSize = Config.CommandFilter.Size;
  const size_t Bitmap = std::min<size_t>(Config.CommandFilter.Bitmap.size(), EMU_PLATFORM_FILTER_BITMAP_MAX);
  if (Bitmap != 0) {  // an empty vector may have no data pointer at all
    std::memcpy(Platform->CommandFilterBitmap, Config.CommandFilter.Bitmap.data(), Bitmap);
  }
  Platform->CommandFilterBitmapLength = static_cast<UINT32>(Bitmap);
  // A name that fills its field is written without a terminator.
  std::memset(Platform->ModelName, 0, sizeof(Platform->ModelName));
  std::memset(Platform->Version, 0, sizeof(Platform->Version));
  const std::u16string Name = Utf8ToUtf16(Config.ModelName);
  const std::u16string Version = Utf8ToUtf16(Config.Version);
  std::memcpy(Platform->ModelName, Name.data(), std::min(sizeof(Platform->ModelName), Name.size() * 2));
  std::memcpy(Platform->Version, Version.data(), std::min(sizeof(Platform->Version), Version.size() * 2));
  Platform->Switches = Config.Switches;
  Platform->ExtendedSwitches = Config.ExtendedSwitches;
  Platform->AntiTheft = Config.AntiTheft;
}

// The profile's answers for the checks and notifications of the update flows
// (the profile reader has checked the lengths).
void ApplyChecksProfile(const ChecksConfig &Config, EMU_CHECKS *Checks) {
  EmuChecksInit(Checks);
  std::vector<const CHAR8 *> Strings;
  for (const std::string &Text : Config.OemStrings) Strings.push_back(Text.c_str());
  if (!EmuChecksSetStringAnswer(Checks, Strings.data(), Strings.size())) {
    throw ProfileError("profile checks.oemStrings do not fit the 19h list");
  }
  Checks->NotifyStatus = Config.NotifyStatus;
  Checks->SkipModelStatus = Config.SkipModelCheckStatus;
  Checks->IniStatus = Config.IniStatus;
  Checks->ConditionSupported = Config.ConditionalDataSupported;
  Checks->ConditionResult = Config.ConditionalDataResult;
  Checks->RestoreStatus = Config.RestoreStatus;
  Checks->RestoreWord = Config.RestoreWord;
  std::memcpy(Checks->Password, Config.Password.data(), std::min(Config.Password.size(), sizeof(Checks->Password) - 1));
  Checks->CommonFlashSupported = Config.CommonFlash.Supported;
  Checks->CommonFlashPermit = Config.CommonFlash.Permit;
  Checks->CommonFlashMessage = Config.CommonFlash.Message;
  Checks->CommonFlashAction = Config.CommonFlash.Action;
  Checks->Secure = Config.SecureCapsule.Supported;
  Checks->EspSupport = Config.SecureCapsule.Esp;
  Checks->CapsuleStatus = Config.SecureCapsule.Status;
  Checks->CapsuleAction = Config.SecureCapsule.Action;
  Checks->OemSecure = Config.OemSecure;
  Checks->Pfat = Config.Pfat;
  Checks->EcPartCount = static_cast<UINT32>(std::min<size_t>(Config.EcPartSizes.size(), EMU_CHECKS_MAX_EC_PARTS));
  for (UINT32 Part = 0; Part < Checks->EcPartCount; Part++) Checks->EcPartSizes[Part] = Config.EcPartSizes[Part];
}

// The NUL-terminated texts of a buffer up to its 0xFF end mark; empty ones
// are left out (an empty list is sent as 00 FF).
std::vector<std::string> TextList(const UINT8 *Bytes, size_t Size) {
  std::vector<std::string> Out;
  std::string Text;
  for (size_t Index = 0; Index < Size && Bytes[Index] != 0xFF; Index++) {
    if (Bytes[Index] == 0) {
      if (!Text.empty()) Out.push_back(Text);
      Text.clear();
    } else {
      Text += static_cast<char>(Bytes[Index]);
    }
  }
  return Out;
}

void ApplySignedProfile(const ChecksConfig &Config, EMU_SIGNED *Signed) {
  EmuSignedInit(Signed);
  if (Config.SigningKey.size() == EMU_RSA_KEY_SIZE) {
    Signed->HasKey = TRUE;
    std::memcpy(Signed->PublicKey, Config.SigningKey.data(), EMU_RSA_KEY_SIZE);
  }
  Signed->CapsuleFailAfterBlocks = Config.SecureCapsule.FailAfterBlocks;
  Signed->CapsulePowerCut = Config.SecureCapsule.PowerCutBeforeReset ? TRUE : FALSE;
  Signed->RbuStatus = Config.Rbu.Status;
  Signed->RbuFallback = Config.Rbu.Fallback ? TRUE : FALSE;
  Signed->RbuAction = Config.Rbu.Action;
  Signed->RbuFailAfterBlocks = Config.Rbu.FailAfterBlocks;
  Signed->PfatPacketLimit = Config.PfatPacketLimit;
  Signed->PfatFailAtPacket = Config.PfatFailAtPacket;
  Signed->ExtraDataLimit = Config.ExtraDataLimit;
}

const char *ApplyName(UINT8 Outcome) {
  switch (Outcome) {
    case EMU_SIGNED_APPLY_DONE: return "applied";
    case EMU_SIGNED_APPLY_FAILED: return "failed";
    case EMU_SIGNED_APPLY_POWER_CUT: return "power cut";
    default: return "none";
  }
}

// What the signed updates did, for the report.
nlohmann::json SignedReport(const EMU_SIGNED &S, const std::map<uint8_t, std::vector<uint8_t>> &Items) {
  nlohmann::json Extra = nlohmann::json::object();
  for (const auto &Item : Items) {
    Extra[Hex(Item.first, 2)] = {{"size", Item.second.size()}, {"crc32", Hex(Crc32(Item.second.data(), Item.second.size()), 8)}};
  }
  return {
      {"key", S.HasKey != 0},
      {"capsule",
       {{"pending", S.CapsulePending != 0},
        {"pendingSize", S.CapsulePending ? S.CapsuleSize : 0},
        {"fromEsp", S.CapsuleFromEsp != 0},
        {"verified", S.CapsulesVerified},
        {"refused", S.CapsulesRefused},
        {"lastRefusal", Hex(S.LastCapsuleRefusal, 2)},
        {"lostToPowerCut", S.CapsuleLostToPowerCut != 0},
        {"applied", S.CapsulesApplied}}},
      {"lastWrite",
       {{"outcome", ApplyName(S.LastApply)},
        {"blocks", S.LastApplyBlocks},
        {"biosSize", Hex(S.LastApplyBiosSize, 1)},
        {"meSize", Hex(S.LastApplyMeSize, 1)},
        {"ecSize", Hex(S.LastApplyEcSize, 1)},
        {"deviceFirmwareSize", Hex(S.LastApplyDeviceFirmwareSize, 1)}}},
      {"rbu",
       {{"verified", S.RbuVerified},
        {"refused", S.RbuRefused},
        {"flashed", S.RbuFlashed},
        {"lastRefusal", Hex(S.LastRbuRefusal, 2)}}},
      {"pfat",
       {{"packets", S.PfatPackets},
        {"written", S.PfatWritten},
        {"sequences", S.PfatSequences},
        {"lastIndex", S.LastPfatIndex},
        {"lastResult", Hex(static_cast<uint32_t>(S.PfatResult), 2)}}},
      {"extraData", {{"items", S.ExtraItems}, {"refused", S.ExtraRefused}, {"byType", Extra}}},
  };
}

// What the checks recorded, for the report.
nlohmann::json ChecksReport(const EMU_CHECKS &C) {
  nlohmann::json Notes = nlohmann::json::array();
  for (uint32_t Index = std::min<uint32_t>(C.NotificationCount, EMU_CHECKS_NOTIFY_RING_SIZE); Index > 0; Index--) {
    EMU_CHECKS_NOTIFICATION Note = {};
    EmuChecksRecentNotification(&C, Index - 1, &Note);
    Notes.push_back({{"action", Note.Action}, {"status", Note.Status}});  // oldest first
  }
  nlohmann::json Out = {
      {"oemNotifications", {{"count", C.NotificationCount}, {"recent", Notes}}},
      {"oemStrings",
       {{"requests", C.StringRequests}, {"sent", TextList(C.StringRequest, sizeof(C.StringRequest))}}},
      {"skipModelCheck", {{"requests", C.SkipModelRequests}}},
      {"iniRecord", {{"requests", C.IniRequests}, {"bytes", C.IniBytes}}},
      {"conditionalData", {{"requests", C.ConditionRequests}, {"type", C.ConditionType}}},
      {"factoryCopyRestore", {{"requests", C.RestoreRequests}}},
      {"progress", {{"reports", C.ProgressReports}, {"index", C.ProgressIndex}, {"total", C.ProgressTotal}}},
      {"pfatQueries", C.PfatQueries},
      {"secureCapsule",
       {{"queries", C.SecureQueries}, {"submissions", C.CapsuleSubmissions}, {"lastSize", C.LastCapsuleSize}}},
      {"oemSecure", {{"queries", C.OemSecureQueries}, {"submissions", C.OemCapsuleSubmissions}}},
      {"ecPartInformation", {{"requests", C.EcRequests}, {"index", C.EcLastIndex}, {"size", C.EcLastSize}}},
  };
  Out["password"] = nullptr;
  if (C.PasswordQueries + C.PasswordVerifies != 0) {
    Out["password"] = {{"queries", C.PasswordQueries},
                       {"verifies", C.PasswordVerifies},
                       {"wrong", C.PasswordWrong},
                       {"lastTried", std::string(C.LastPasswordTried)}};
  }
  Out["commonFlash"] = nullptr;
  if (C.CommonFlashRequests != 0) {
    nlohmann::json Items = nlohmann::json::array();
    UINTN Offset = 0;
    UINT8 Type = 0;
    const UINT8 *Value = nullptr;
    UINTN Length = 0;
    while (EmuChecksNextCommonItem(C.CommonFlashItems, sizeof(C.CommonFlashItems), &Offset, &Type, &Value, &Length)) {
      if (Type <= 3 && Length == 1) {
        Items.push_back({{"type", Type}, {"value", Value[0]}});
      } else {
        Items.push_back({{"type", Type}, {"text", std::string(reinterpret_cast<const char *>(Value), Length)}});
      }
    }
    Out["commonFlash"] = {{"requests", C.CommonFlashRequests},
                          {"items", Items},
                          {"switches", TextList(C.CommonFlashSwitches, C.CommonFlashSwitchesLength)}};
  }
  return Out;
}

}  // namespace

const char *BlockWriteOutcome(uint8_t Status) {
  switch (Status) {
    case 0: return "written";
    case EMU_FLASH_STATUS_SKIP_BLOCK: return "skipped";
    case EMU_FLASH_STATUS_LOCKED: return "locked";
    default: return "failed";
  }
}

uint32_t Crc32(const void *Data, size_t Length) {
  uint32_t Crc = 0xFFFFFFFFu;
  const uint8_t *Bytes = static_cast<const uint8_t *>(Data);
  for (size_t Index = 0; Index < Length; Index++) {
    Crc ^= Bytes[Index];
    for (int Bit = 0; Bit < 8; Bit++) {
      Crc = (Crc >> 1) ^ (0xEDB88320u & (0u - (Crc & 1u)));
    }
  }
  return ~Crc;
}

Machine::Machine(const Profile &P, const std::string &BaseDir)
    : Profile_(P), BaseDir_(BaseDir), Pages_(Memory_), Bios_(new EMU_BIOS), Console_(P.ConsoleColumns, P.ConsoleRows) {
  ClockStart_ = ParseClock(Profile_.ClockStart, "profile clock.start");
  Cmos_ = std::make_unique<Cmos>([this](EFI_TIME *Time) { GetTime(Time); }, Profile_.RtcBinary);
  // The index port is write-only, as on the chipsets: reads float high.
  MapPort(0x70, nullptr,
          [this](uint16_t, unsigned, uint32_t Value) { Cmos_->WriteIndex(static_cast<uint8_t>(Value)); });
  MapPort(0x71, [this](uint16_t, unsigned) -> uint32_t { return Cmos_->ReadData(); },
          [this](uint16_t, unsigned, uint32_t Value) { Cmos_->WriteData(static_cast<uint8_t>(Value)); });
  BuildMemory();
  ApplyBiosProfile();
  BuildFlash();
  BuildSigned();
  BuildVolumes();
  for (const AllocFaultConfig &Fault : Profile_.PoolFaults) PoolFaults_.push_back({Fault, 0});
  for (const AllocFaultConfig &Fault : Profile_.PageFaults) PageFaults_.push_back({Fault, 0});
  Keyboard_.SetIdlePolls(Profile_.KeyIdlePolls);
  Keyboard_.QueueScript(Profile_.Keys);
}

Machine::~Machine() {
  // A last resort for an owner that did not save: a launcher calls
  // SaveFlashChanges itself, so that a failure reaches its user, and a
  // failure already handed to an owner is not tried and told again.
  std::string Error;
  if (!SaveFailureHandedOut_ && !SaveFlashChanges(&Error)) {
    std::cerr << "vyr-emu: the flash contents were not saved: " << Error << "\n";
  }
}

std::unique_ptr<Machine> Machine::OpenDirectory(const std::string &Dir) {
  fs::create_directories(Dir);
  const std::string ProfilePath = (fs::path(Dir) / "profile.json").string();
  if (!fs::exists(ProfilePath)) {
    Profile::Default().Save(ProfilePath);
  }
  auto M = std::make_unique<Machine>(Profile::Load(ProfilePath), Dir);
  M->Directory_ = Dir;
  for (const VolumeConfig &Config : M->Profile_.Volumes) {
    fs::create_directories(M->VolumeRoot(Config));
  }
  M->Variables_.SetFile((fs::path(Dir) / "variables.json").string());
  M->Variables_.Load();
  M->LoadFlashFile();
  M->ApplyCapsuleAtPowerOn();
  return M;
}

void Machine::BuildMemory() {
  uint8_t *Fseg = Memory_.AddRegion(kFsegmentBase, kFsegmentSize, "fsegment");
  if (Profile_.Fsegment.SignatureAddress) {
    uint8_t *At = Fseg + (*Profile_.Fsegment.SignatureAddress - kFsegmentBase);
    std::memcpy(At, "$FWSMI", 6);
    At[6] = Profile_.Fsegment.MainFunction.value_or(Profile_.BiosMainFunction);
  }
  Acpi_ = BuildAcpiTables(Profile_.Acpi, Memory_);
  if (Acpi_.Rsdp20 != 0) ConfigTable_.push_back({kAcpi20TableGuid, Acpi_.Rsdp20});
  if (Acpi_.Rsdp10 != 0) ConfigTable_.push_back({kAcpi10TableGuid, Acpi_.Rsdp10});
  for (const MemoryPatchConfig &Patch : Profile_.MemoryPatches) {
    if (Patch.Bytes.empty()) {
      continue;
    }
    if (Memory_.BackedLength(Patch.Address, Patch.Bytes.size()) != Patch.Bytes.size()) {
      const uint64_t Base = Patch.Address & ~(kPageSize - 1);
      const uint64_t End = (Patch.Address + Patch.Bytes.size() + kPageSize - 1) & ~(kPageSize - 1);
      if (Memory_.Overlaps(Base, End - Base)) {
        throw ProfileError("memory patch at " + Hex(Patch.Address, 8) + " straddles the edge of existing memory");
      }
      Memory_.AddRegion(Base, End - Base, "patch");
    }
    Memory_.Write(Patch.Address, Patch.Bytes.data(), Patch.Bytes.size());
  }
}

void Machine::ApplyBiosProfile() {
  EmuBiosInit(Bios_.get());
  Bios_->MainFunction = Profile_.BiosMainFunction;
  EmuBiosSetMemory(Bios_.get(), BiosRead, BiosWrite, this);
  ApplyPlatformProfile(Profile_.Platform, &Bios_->Platform);
  ApplyChecksProfile(Profile_.Checks, &Bios_->Checks);
  ApplySignedProfile(Profile_.Checks, &Bios_->Signed);
  for (const BiosFaultConfig &Config : Profile_.BiosFaults) {
    EMU_BIOS_FAULT Fault = {};
    Fault.Function = Config.Function;
    Fault.Status = Config.Status;
    Fault.FirstCall = Config.Call;
    Fault.Count = Config.Count;
    if (Config.Ah) {
      Fault.ResultMask |= EMU_BIOS_FAULT_SET_AH;
      Fault.Result.Eax = uint32_t(*Config.Ah) << 8;
    }
    if (Config.Ecx) Fault.ResultMask |= EMU_BIOS_FAULT_SET_ECX, Fault.Result.Ecx = *Config.Ecx;
    if (Config.Edx) Fault.ResultMask |= EMU_BIOS_FAULT_SET_EDX, Fault.Result.Edx = *Config.Edx;
    if (Config.Esi) Fault.ResultMask |= EMU_BIOS_FAULT_SET_ESI, Fault.Result.Esi = *Config.Esi;
    if (Config.Edi) Fault.ResultMask |= EMU_BIOS_FAULT_SET_EDI, Fault.Result.Edi = *Config.Edi;
    if (!EmuBiosAddFault(Bios_.get(), &Fault)) {
      throw ProfileError("profile bios.faults has more than " + std::to_string(EMU_BIOS_MAX_FAULTS) + " entries");
    }
  }
}

// The profile's flash object for the BIOS's flash functions (the profile
// reader has checked the list lengths against the BIOS's capacities).
static void ApplyFlashProfile(const FlashConfig &Config, EMU_FLASH *Flash) {
  EmuFlashInit(Flash);
  Flash->SizeIndex = Config.ResolvedSizeIndex();
  Flash->SizeSpecified = Config.ResolvedSizeSpecified();
  std::memset(Flash->Vendor, 0, sizeof(Flash->Vendor));
  std::memset(Flash->PartType, 0, sizeof(Flash->PartType));
  std::memcpy(Flash->Vendor, Config.Vendor.data(), std::min(sizeof(Flash->Vendor), Config.Vendor.size()));
  std::memcpy(Flash->PartType, Config.Type.data(), std::min(sizeof(Flash->PartType), Config.Type.size()));
  Flash->DeviceId = Config.DeviceId;
  const std::vector<FlashBlocksConfig> Blocks = Config.ResolvedBlockMap();
  Flash->BlockMapCount = 0;
  for (const FlashBlocksConfig &B : Blocks) {
    if (Flash->BlockMapCount == EMU_FLASH_MAX_BLOCK_MAP) break;
    Flash->BlockMap[Flash->BlockMapCount++] = {static_cast<UINT16>(B.Size / 256), static_cast<UINT16>(B.Count)};
  }
  for (const FlashRegionConfig &R : Config.ProtectMap) {
    if (Flash->ProtectCount == EMU_FLASH_MAX_PROTECT) break;
    Flash->Protect[Flash->ProtectCount++] = {R.Type, R.Address, R.Size, 0};
  }
  for (const FlashRangeConfig &R : Config.PrivateMap) {
    if (Flash->PrivateCount == EMU_FLASH_MAX_PRIVATE) break;
    Flash->Private[Flash->PrivateCount++] = {R.Address, R.Size};
  }
  for (const FlashRegionConfig &R : Config.WholeMap) {
    if (Flash->WholeCount == EMU_FLASH_MAX_WHOLE) break;
    Flash->Whole[Flash->WholeCount++] = {R.Type, R.Address, R.Size, R.Attribute};
  }
  for (const ExternalRegionConfig &R : Config.ExternalRegions) {
    if (Flash->ExternalCount == EMU_FLASH_MAX_EXTERNAL) break;
    Flash->External[Flash->ExternalCount++] = {R.Type, R.Offset, R.Size, R.Access};
  }
  Flash->DecodeNewImage = Config.NewRegionsFromImage ? TRUE : FALSE;
  Flash->ProgramClearsBitsOnly = Config.ProgramClearsBitsOnly ? TRUE : FALSE;
  Flash->Timing.BusKHz = Config.Timing.BusKHz;
  Flash->Timing.ReadWidth = Config.Timing.ReadWidth;
  Flash->Timing.ReadDummyClocks = Config.Timing.ReadDummyClocks;
  Flash->Timing.CycleBytes = Config.Timing.CycleBytes;
  Flash->Timing.PageProgramNs = Config.Timing.PageProgramUs * 1000;
  Flash->Timing.SectorEraseUs = Config.Timing.SectorEraseMs * 1000;
  Flash->Timing.Block32EraseUs = Config.Timing.Block32EraseMs * 1000;
  Flash->Timing.Block64EraseUs = Config.Timing.Block64EraseMs * 1000;
  Flash->Timing.SmiOverheadNs = Config.Timing.SmiOverheadUs * 1000;
  for (const FlashRangeConfig &R : Config.LockedRanges) {
    if (Flash->LockedCount == EMU_FLASH_MAX_LOCKED) break;
    Flash->Locked[Flash->LockedCount++] = {R.Address, R.Size};
  }
  for (const FlashRangeConfig &R : Config.SkipRanges) {
    if (Flash->SkipCount == EMU_FLASH_MAX_SKIP) break;
    Flash->Skip[Flash->SkipCount++] = {R.Address, R.Size};
  }
}

void Machine::BuildFlash() {
  const FlashConfig &Config = Profile_.Flash;
  ApplyFlashProfile(Config, &Bios_->Flash);
  Bios_->Flash.PowerCutAfterWrites = Profile_.PowerCutAfterWrites;
  Bios_->Flash.CorruptReadBacks = Profile_.CorruptReadBacks;
  Flash_.clear();
  Flash_.reserve(Config.Size);
  AdviseHugePages(Flash_.data(), Config.Size);
  Flash_.assign(Config.Size, Config.Fill);
  if (!Config.Image.empty()) {
    fs::path Path(Config.Image);
    if (Path.is_relative() && !BaseDir_.empty()) {
      Path = fs::path(BaseDir_) / Path;
    }
    std::error_code Error;
    const uintmax_t Size = fs::file_size(Path, Error);
    if (Error) {
      throw ProfileError("profile flash.image: cannot open " + Path.string());
    }
    if (Size != Config.Size) {
      throw ProfileError("profile flash.image: " + Path.string() + " is " + std::to_string(Size) +
                         " bytes, the flash is " + std::to_string(Config.Size));
    }
    std::ifstream In(Path, std::ios::binary);
    In.read(reinterpret_cast<char *>(Flash_.data()), static_cast<std::streamsize>(Flash_.size()));
    if (!In) {
      throw ProfileError("profile flash.image: cannot read " + Path.string());
    }
  }
  EmuFlashSetContents(&Bios_->Flash, Flash_.data(), static_cast<UINT32>(Flash_.size()));
}

std::string Machine::FlashFilePath() const { return (fs::path(Directory_) / "flash.bin").string(); }

void Machine::LoadFlashFile() {
  const std::string Path = FlashFilePath();
  if (!fs::exists(Path)) {
    SaveFlash();
    return;
  }
  const uintmax_t Size = fs::file_size(Path);
  if (Size != Flash_.size()) {
    throw ProfileError(Path + " is " + std::to_string(Size) + " bytes but the profile's flash is " +
                       std::to_string(Flash_.size()) + "; remove it to start from the profile again");
  }
  std::ifstream In(Path, std::ios::binary);
  In.read(reinterpret_cast<char *>(Flash_.data()), static_cast<std::streamsize>(Flash_.size()));
  if (!In) {
    throw ProfileError(Path + ": cannot read");
  }
}

namespace {

// Writes Path through Path.tmp and a rename: a save that fails or is cut
// short leaves the old file whole. Throws with the host's reason.
void ReplaceFile(const std::string &Path, const uint8_t *Data, size_t Size) {
  const std::string Temp = Path + ".tmp";
  const auto Fail = [&](const std::string &What, int Error, bool Remove) {
    if (Remove) unlink(Temp.c_str());
    throw std::runtime_error(What + ": " + std::strerror(Error));
  };
  const int Fd = open(Temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (Fd < 0) {
    Fail(Temp, errno, false);
  }
  for (size_t Done = 0; Done < Size;) {
    const ssize_t Put = write(Fd, Data + Done, Size - Done);
    if (Put < 0 && errno == EINTR) continue;
    if (Put <= 0) {
      const int Error = Put < 0 ? errno : ENOSPC;
      close(Fd);
      Fail(Temp, Error, true);
    }
    Done += static_cast<size_t>(Put);
  }
  if (fsync(Fd) != 0) {
    const int Error = errno;
    close(Fd);
    Fail(Temp, Error, true);
  }
  if (close(Fd) != 0) {
    Fail(Temp, errno, true);
  }
  if (std::rename(Temp.c_str(), Path.c_str()) != 0) {
    Fail(Path, errno, true);
  }
  // The rename itself lasts once the directory is on the disk.
  const int Dir = open(fs::path(Path).parent_path().string().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Dir >= 0) {
    fsync(Dir);
    close(Dir);
  }
}

}  // namespace

bool Machine::SaveFlash() {
  if (Directory_.empty()) {
    return false;
  }
  ReplaceFile(FlashFilePath(), Flash_.data(), Flash_.size());
  Bios_->Flash.ContentsChanged = FALSE;
  return true;
}

bool Machine::SaveFlashChanges(std::string *Error) {
  if (Directory_.empty()) {
    return true;
  }
  try {
    SavePendingCapsule();
    if (Bios_->Flash.ContentsChanged) SaveFlash();
  } catch (const std::exception &E) {
    if (Error != nullptr) *Error = E.what();
    SaveFailureHandedOut_ = true;
    return false;
  }
  return true;
}

std::string Machine::VolumeRoot(const VolumeConfig &Config) const {
  fs::path Dir(Config.Dir);
  if (Dir.is_relative() && !BaseDir_.empty()) {
    Dir = fs::path(BaseDir_) / Dir;
  }
  return Dir.lexically_normal().string();
}

void Machine::BuildVolumes() {
  uint32_t Index = 0;
  for (const VolumeConfig &Config : Profile_.Volumes) {
    auto V = std::make_unique<Volume>(Config, VolumeRoot(Config), Index++);
    EFI_HANDLE Handle = nullptr;
    Protocols_.Install(&Handle, kDevicePathProtocolGuid, const_cast<uint8_t *>(V->DevicePath().data()));
    Protocols_.Install(&Handle, kSimpleFileSystemProtocolGuid, V.get());
    V->Handle = Handle;
    Volumes_.push_back(std::move(V));
  }
}

// ---- Memory ------------------------------------------------------------------

const AllocFaultConfig *Machine::MatchFault(std::vector<AllocFaultState> &Faults, uint64_t Size) {
  const AllocFaultConfig *Hit = nullptr;
  for (AllocFaultState &State : Faults) {
    if (State.Config.Size && *State.Config.Size != Size) {
      continue;
    }
    const uint64_t Number = ++State.Seen;
    const uint64_t First = State.Config.Call == 0 ? 1 : State.Config.Call;
    if (Hit == nullptr && Number >= First && (State.Config.Count == 0 || Number - First < State.Config.Count)) {
      Hit = &State.Config;
    }
  }
  return Hit;
}

EFI_STATUS Machine::AllocatePages(uint64_t MaxAddress, uint64_t Pages, uint64_t *Address) {
  Counters_.PageAllocations++;
  if (Address == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (const AllocFaultConfig *Fault = MatchFault(PageFaults_, Pages)) {
    if (Fault->ZeroAddress) {
      ZeroPageAllocations_++;
      *Address = 0;
      return EFI_SUCCESS;
    }
    Counters_.PageFailures++;
    return EFI_OUT_OF_RESOURCES;
  }
  EFI_STATUS Status = Pages_.Allocate(MaxAddress, Pages, Address);
  if (EFI_ERROR(Status)) {
    Counters_.PageFailures++;
  }
  return Status;
}

EFI_STATUS Machine::FreePages(uint64_t Address, uint64_t Pages) {
  Counters_.PageFrees++;
  if (Address == 0 && ZeroPageAllocations_ > 0) {
    ZeroPageAllocations_--;
    return EFI_SUCCESS;
  }
  return Pages_.Free(Address, Pages);
}

bool Machine::PoolAllocationAllowed(size_t Size) {
  Counters_.PoolAllocations++;
  if (MatchFault(PoolFaults_, Size) != nullptr) {
    Counters_.PoolFailures++;
    return false;
  }
  return true;
}

EFI_STATUS Machine::GetConfigurationTable(const EFI_GUID &Guid, uint64_t *Address) const {
  for (const ConfigTableEntry &Entry : ConfigTable_) {
    if (SameGuid(Entry.Guid, Guid)) {
      *Address = Entry.Address;
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

// ---- Ports and SMI -------------------------------------------------------------

void Machine::MapPort(uint16_t Port, PortReader Reader, PortWriter Writer) { Ports_[Port] = {std::move(Reader), std::move(Writer)}; }

uint32_t Machine::IoRead(uint16_t Port, unsigned Width) {
  const uint32_t Mask = Width >= 4 ? 0xFFFFFFFFu : (1u << (8 * Width)) - 1;
  auto It = Ports_.find(Port);
  if (It != Ports_.end() && It->second.first) {
    return It->second.first(Port, Width) & Mask;
  }
  for (const IoPortConfig &Config : Profile_.IoPorts) {
    if (Config.Port == Port) {
      return Config.Value & Mask;
    }
  }
  return Mask;  // nothing decodes the port: the bus floats high
}

void Machine::IoWrite(uint16_t Port, unsigned Width, uint32_t Value) {
  auto It = Ports_.find(Port);
  if (It != Ports_.end() && It->second.second) {
    It->second.second(Port, Width, Value);
    return;
  }
  if (PortWrites_.size() < kMaxPortWrites) {
    PortWrites_.push_back({Port, Width, Value});
  }
}

void Machine::Digest(uint32_t Address, uint32_t *Length, uint32_t *Crc) const {
  uint8_t Bytes[kSmiDigestLength];
  const size_t Backed = Address == 0 ? 0 : Memory_.BackedLength(Address, sizeof(Bytes));
  Memory_.Read(Address, Bytes, Backed);
  *Length = static_cast<uint32_t>(Backed);
  *Crc = Crc32(Bytes, Backed);
}

void Machine::TriggerSmi(SMI_REGISTERS &Regs, uint32_t SettleCount) {
  Counters_.SmiTriggers++;
  SmiRecord Record;
  Record.Sequence = Transcript_.size() + 1;
  Record.In = Regs;
  const uint16_t Port = SmiCommandPort();
  if (Port != 0 && (Regs.Edx & 0xFFFF) == Port) {
    Record.Delivered = true;
    Counters_.SmiDelivered++;
    Digest(Record.In.Esi, &Record.EsiLength, &Record.EsiCrcIn);
    Digest(Record.In.Edi, &Record.EdiLength, &Record.EdiCrcIn);
    const bool WasOff = PoweredOff();
    const EMU_FLASH &Flash = Bios_->Flash;
    const uint64_t FlashNsBefore = Flash.ReadNs + Flash.EraseNs + Flash.ProgramNs;
    EmuBiosHandleSmi(Bios_.get(), &Regs);
    if (!WasOff) {
      // The part's work and the SMI's own cost pass on the machine's clock, as they would on hardware.
      SmiOverheadNs_ += Flash.Timing.SmiOverheadNs;
      AdvanceNs(Flash.Timing.SmiOverheadNs + (Flash.ReadNs + Flash.EraseNs + Flash.ProgramNs - FlashNsBefore));
    }
    if (!WasOff) {
      RecordBlockWrite(Record.In, Regs);
      if (PoweredOff()) CutPower();
    }
    uint32_t Ignored;
    Digest(Record.In.Esi, &Ignored, &Record.EsiCrcOut);
    Digest(Record.In.Edi, &Ignored, &Record.EdiCrcOut);
  }
  AdvanceNs(SettleCount);  // the settle loop: one virtual nanosecond per count
  SmiOverheadNs_ += SettleCount;
  Record.Out = Regs;
  Record.TimeNs = NowNs_;
  Transcript_.push_back(Record);
}

ModeledTime Machine::Modeled() const {
  ModeledTime Time;
  Time.ReadNs = Bios_->Flash.ReadNs;
  Time.EraseNs = Bios_->Flash.EraseNs;
  Time.ProgramNs = Bios_->Flash.ProgramNs;
  Time.SmiOverheadNs = SmiOverheadNs_;
  return Time;
}

void Machine::RecordBlockWrite(const SMI_REGISTERS &In, const SMI_REGISTERS &Out) {
  if ((In.Eax & 0xFF) != Bios_->MainFunction || In.Ebx != EMU_BIOS_CALL_SIGNATURE || ((In.Eax >> 8) & 0xFF) != 0x15) {
    return;
  }
  auto Found = BlockWriteIndex_.find(In.Edi);
  if (Found == BlockWriteIndex_.end()) {
    Found = BlockWriteIndex_.emplace(In.Edi, BlockWrites_.size()).first;
    BlockWrites_.push_back(BlockWrite{In.Edi, 0, 0, 0});
  }
  BlockWrite &Block = BlockWrites_[Found->second];
  Block.Length = In.Ecx;
  Block.Status = static_cast<uint8_t>(Out.Eax & 0xFF);
  Block.Attempts++;
}

// Room for a capsule: a whole flash image, an ME or EC image up to the
// part's size again, and the other records. Untouched pages cost nothing.
constexpr uint32_t kCapsuleSlack = 0x100000;

void Machine::BuildSigned() {
  const uint64_t Capacity = std::min<uint64_t>(2 * uint64_t(Flash_.size()) + kCapsuleSlack, UINT32_MAX);
  SignedStore_.reset(new uint8_t[Capacity]);
  const uint32_t ExtraCapacity = Profile_.Checks.ExtraDataLimit;
  ExtraStore_.reset(new uint8_t[ExtraCapacity == 0 ? 1 : ExtraCapacity]);
  EmuSignedSetBuffers(&Bios_->Signed, SignedStore_.get(), static_cast<UINT32>(Capacity), ExtraStore_.get(),
                      ExtraCapacity);
  Bios_->Signed.ReadEsp = ReadEspCapsule;
  Bios_->Signed.StoreExtra = StoreExtraData;
  Bios_->Signed.HostContext = this;
}

std::string Machine::PendingCapsulePath() const { return (fs::path(Directory_) / "capsule-pending.bin").string(); }

// The capsule waiting for the reset outlives the run on disk; none waiting
// (applied, replaced, or lost with the power) leaves no file.
void Machine::SavePendingCapsule() {
  const EMU_SIGNED &S = Bios_->Signed;
  if (S.CapsulePending) {
    ReplaceFile(PendingCapsulePath(), SignedStore_.get(), S.CapsuleSize);
  } else if (fs::exists(PendingCapsulePath())) {
    fs::remove(PendingCapsulePath());
  }
}

// Opening a machine is the reset after the last run: a capsule that waits is
// written now. Its block writes belong to that reset, not to this run's
// counters and power cut.
void Machine::ApplyCapsuleAtPowerOn() {
  const std::string Path = PendingCapsulePath();
  if (!fs::exists(Path)) {
    return;
  }
  const uintmax_t Size = fs::file_size(Path);
  EMU_SIGNED &S = Bios_->Signed;
  EMU_FLASH &F = Bios_->Flash;
  if (Size == 0 || Size > S.StoreCapacity) {
    fs::remove(Path);
    ResetNote_ = "reset: capsule-pending.bin does not fit the BIOS's store; dropped";
    Note(ResetNote_);
    return;
  }
  std::ifstream In(Path, std::ios::binary);
  In.read(reinterpret_cast<char *>(SignedStore_.get()), static_cast<std::streamsize>(Size));
  if (!In) {
    throw ProfileError(Path + ": cannot read");
  }
  S.CapsulePending = TRUE;
  S.CapsuleSize = static_cast<UINT32>(Size);
  const EMU_FLASH Before = F;
  F.PowerCutAfterWrites = 0;
  EmuSignedApplyPending(Bios_.get());
  F.PowerCutAfterWrites = Before.PowerCutAfterWrites;
  F.BytesWritten = Before.BytesWritten;
  F.BlocksWritten = Before.BlocksWritten;
  F.BlocksErased = Before.BlocksErased;
  F.EraseNs = Before.EraseNs;
  F.ProgramNs = Before.ProgramNs;
  ResetNote_ = std::string("reset: capsule ") + ApplyName(S.LastApply) + " (" + std::to_string(S.LastApplyBlocks) +
               " blocks)";
  Note(ResetNote_);
  SaveFlashChanges(nullptr);
}

BOOLEAN Machine::ReadEspCapsule(VOID *Context, UINT8 *Buffer, UINT32 Capacity, UINT32 *Size) {
  auto *M = static_cast<Machine *>(Context);
  *Size = 0;
  for (const auto &V : M->Volumes_) {
    const std::string Path = V->HostRoot() + "/" + kEspCapsulePath;
    std::error_code Error;
    const uintmax_t Length = fs::file_size(Path, Error);
    if (Error || !fs::is_regular_file(Path)) {
      continue;
    }
    *Size = Length > UINT32_MAX ? UINT32_MAX : static_cast<UINT32>(Length);
    if (Length > Capacity) {
      return FALSE;
    }
    std::ifstream In(Path, std::ios::binary);
    In.read(reinterpret_cast<char *>(Buffer), static_cast<std::streamsize>(Length));
    return In ? TRUE : FALSE;
  }
  return FALSE;
}

VOID Machine::StoreExtraData(VOID *Context, UINT8 Type, CONST UINT8 *Data, UINT32 Size) {
  auto *M = static_cast<Machine *>(Context);
  M->ExtraItems_[Type].assign(Data, Data + Size);
  if (M->Directory_.empty()) {
    return;
  }
  // This runs inside the utility's SMI call, which no exception may cross.
  try {
    const fs::path Dir = fs::path(M->Directory_) / "extra-data";
    fs::create_directories(Dir);
    ReplaceFile((Dir / ("type-" + Hex(Type, 2).substr(2) + ".bin")).string(), Data, Size);
  } catch (const std::exception &E) {
    M->Note(std::string("extra data not saved: ") + E.what());
  }
}

// The power goes at the end of the block write that the profile names: what
// was written is on the flash (and in flash.bin right away, as a real part
// keeps it); the console shows nothing from here on.
void Machine::CutPower() {
  PowerCutConsoleLength_ = Console_.Transcript().size();
  char Text[96];
  if (Bios_->Signed.CapsuleLostToPowerCut) {
    std::snprintf(Text, sizeof(Text), "power cut after the capsule submission, before the reset");
  } else {
    std::snprintf(Text, sizeof(Text), "power cut after block write %u at 0x%08X", Bios_->Flash.BlocksWritten,
                  Bios_->Flash.PowerCutAddress);
  }
  Note(Text);
  // This runs inside the utility's SMI call, which no exception may cross; a
  // failed save leaves the contents marked changed for the launcher's save.
  std::string Error;
  if (!SaveFlashChanges(&Error)) {
    Note("flash.bin could not be written at the power cut: " + Error);
  }
}

// ---- Volumes and files -------------------------------------------------------

Volume *Machine::FindVolume(const std::string &Name) const {
  for (const auto &V : Volumes_) {
    if (V->Name() == Name) {
      return V.get();
    }
  }
  return nullptr;
}

EFI_STATUS Machine::OpenVolume(void *FileSystem, File **Root) {
  if (Root == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Volume *Found = nullptr;
  for (const auto &V : Volumes_) {
    if (V.get() == FileSystem) {
      Found = V.get();
    }
  }
  if (Found == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::error_code Error;
  fs::create_directories(Found->HostRoot(), Error);
  std::unique_ptr<File> Opened;
  EFI_STATUS Status = File::OpenRoot(Found, &Opened);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  *Root = Opened.get();
  Files_[Opened.get()] = std::move(Opened);
  return EFI_SUCCESS;
}

EFI_STATUS Machine::FileOpen(File *Directory, const CHAR16 *Name, uint64_t Mode, uint64_t Attributes, File **Result) {
  if (!IsOpenFile(Directory) || Name == nullptr || Result == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (PoweredOff() && (Mode & EFI_FILE_MODE_CREATE) != 0 && OpenFrozen(Directory, Name, Mode, Attributes, Result)) {
    return EFI_SUCCESS;
  }
  std::unique_ptr<File> Opened;
  EFI_STATUS Status = Directory->Open(std::u16string(Name), Mode, Attributes, &Opened);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  *Result = Opened.get();
  Files_[Opened.get()] = std::move(Opened);
  return EFI_SUCCESS;
}

EFI_STATUS Machine::FileClose(File *F) {
  return Files_.erase(F) != 0 ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
}

EFI_STATUS Machine::FileDelete(File *F) {
  if (!IsOpenFile(F)) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS Status;
  if (PoweredOff()) {
    // The answers of File::Delete, without touching the volume.
    Status = F->Owner()->ReadOnly()                                    ? EFI_WRITE_PROTECTED
             : EFI_ERROR(F->CheckWritable()) || F->Components().empty() ? EFI_WARN_DELETE_FAILURE
                                                                         : EFI_SUCCESS;
    if (Status == EFI_SUCCESS) DropFile(F, F->Components(), "delete", 0);
  } else {
    Status = F->Delete();
  }
  Files_.erase(F);
  return Status;
}

EFI_STATUS Machine::FileWrite(File *F, uintptr_t *Size, const void *Buffer) {
  if (!IsOpenFile(F)) {
    return EFI_INVALID_PARAMETER;
  }
  if (!PoweredOff()) {
    return F->Write(Size, Buffer);
  }
  if (Size == nullptr || (Buffer == nullptr && *Size != 0)) {
    return EFI_INVALID_PARAMETER;
  }
  if (F->IsDirectory()) {
    return EFI_UNSUPPORTED;
  }
  EFI_STATUS Status = F->CheckWritable();
  if (EFI_ERROR(Status)) {
    return Status;
  }
  // As if written: the position moves on, the file stays as it was.
  uint64_t Position = 0;
  F->GetPosition(&Position);
  F->SetPosition(Position + *Size);
  DropFile(F, F->Components(), "write", *Size);
  return EFI_SUCCESS;
}

EFI_STATUS Machine::FileSetSize(File *F, uint64_t Size) {
  if (!IsOpenFile(F)) {
    return EFI_INVALID_PARAMETER;
  }
  if (!PoweredOff()) {
    return F->SetSize(Size);
  }
  if (F->IsDirectory()) {
    return EFI_UNSUPPORTED;
  }
  EFI_STATUS Status = F->CheckWritable();
  if (!EFI_ERROR(Status)) DropFile(F, F->Components(), "resize", 0);
  return Status;
}

// ---- The frozen machine after a power cut -----------------------------------

void Machine::Drop(bool Variable, const std::string &Operation, const std::string &Name, const std::string &Where,
                   uint64_t Bytes) {
  for (DroppedWrite &D : Dropped_) {
    if (D.Variable == Variable && D.Operation == Operation && D.Name == Name && D.Where == Where) {
      D.Calls++;
      D.Bytes += Bytes;
      return;
    }
  }
  Dropped_.push_back(DroppedWrite{Variable, Operation, Name, Where, 1, Bytes});
}

void Machine::DropFile(const File *F, const std::vector<std::string> &Components, const std::string &Operation,
                       uint64_t Bytes) {
  std::string Path;
  for (const std::string &Component : Components) Path += "\\" + Component;
  Drop(false, Operation, Path.empty() ? "\\" : Path, F->Owner()->Name(), Bytes);
}

// A create after the cut of a file or folder the volume does not have: the
// caller gets a handle that reaches nothing (a file reads as empty). FALSE
// when the open creates nothing, which the volume then answers as usual.
bool Machine::OpenFrozen(File *Directory, const CHAR16 *Name, uint64_t Mode, uint64_t Attributes, File **Result) {
  Volume *Owner = Directory->Owner();
  std::vector<std::string> Components;
  if (!Directory->IsDirectory() || Owner->ReadOnly() ||
      !NormaliseUefiPath(Directory->Components(), std::u16string(Name), &Components) || Components.empty()) {
    return false;
  }
  struct stat Info;
  const std::vector<std::string> Parent(Components.begin(), Components.end() - 1);
  if (stat(Owner->HostPath(Components).c_str(), &Info) == 0 || stat(Owner->HostPath(Parent).c_str(), &Info) != 0 ||
      !S_ISDIR(Info.st_mode)) {
    return false;
  }
  const bool Folder = (Attributes & EFI_FILE_DIRECTORY) != 0;
  const int Fd = Folder ? -1 : memfd_create("vyr-frozen", MFD_CLOEXEC);
  auto Opened = std::make_unique<File>(Owner, Components, Folder, Mode, Fd);
  DropFile(Opened.get(), Components, Folder ? "mkdir" : "create", 0);
  *Result = Opened.get();
  Files_[Opened.get()] = std::move(Opened);
  return true;
}

EFI_STATUS Machine::SetVariable(const CHAR16 *Name, const EFI_GUID *Guid, uint32_t Attributes, uintptr_t DataSize,
                                const void *Data) {
  if (!PoweredOff()) {
    return Variables_.Set(Name, Guid, Attributes, DataSize, Data);
  }
  if (Name == nullptr || Name[0] == 0 || Guid == nullptr || (DataSize != 0 && Data == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  // The store stays as it was at the cut; only what would have reached
  // variables.json is listed.
  const auto Found = Variables_.All().find(VariableStore::Key{Name, GuidToString(*Guid)});
  const bool Exists = Found != Variables_.All().end();
  if (DataSize == 0 || Attributes == 0) {
    if (!Exists) {
      return EFI_NOT_FOUND;
    }
    if ((Found->second.Attributes & EFI_VARIABLE_NON_VOLATILE) != 0) {
      Drop(true, "delete", Utf16ToUtf8(Name), GuidToString(*Guid), 0);
    }
    return EFI_SUCCESS;
  }
  if (Exists && Found->second.Attributes != Attributes) {
    return EFI_INVALID_PARAMETER;
  }
  if ((Attributes & EFI_VARIABLE_NON_VOLATILE) != 0) {
    Drop(true, "set", Utf16ToUtf8(Name), GuidToString(*Guid), DataSize);
  }
  return EFI_SUCCESS;
}

// ---- Loaded images -----------------------------------------------------------

EFI_HANDLE Machine::InstallImage(EFI_HANDLE DeviceHandle, const std::u16string &FilePath, ImageRecord Record) {
  Record.FilePath = BuildFilePathDevicePath(FilePath);
  Record.Protocol = std::make_unique<EFI_LOADED_IMAGE_PROTOCOL>();
  EFI_LOADED_IMAGE_PROTOCOL &Image = *Record.Protocol;
  std::memset(&Image, 0, sizeof(Image));
  Image.Revision = EFI_LOADED_IMAGE_PROTOCOL_REVISION;
  Image.DeviceHandle = DeviceHandle;
  Image.FilePath = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(Record.FilePath.data());
  Image.ImageCodeType = kBootServicesCode;
  Image.ImageDataType = kBootServicesData;
  if (Record.Pages != 0) {
    Image.ImageBase = Memory_.HostPointer(Record.Address, 1);
  }
  EFI_HANDLE Handle = nullptr;
  Protocols_.Install(&Handle, kLoadedImageProtocolGuid, &Image);
  Images_[Handle] = std::move(Record);
  return Handle;
}

EFI_HANDLE Machine::LoadImage(const std::vector<uint8_t> &PeFile, EFI_HANDLE DeviceHandle, const std::u16string &FilePath) {
  const PeInfo Info = ParsePe(PeFile.data(), PeFile.size());
  ImageRecord Record;
  Record.Pages = (Info.SizeOfImage + kPageSize - 1) / kPageSize;
  if (EFI_ERROR(Pages_.Allocate(UINT64_MAX, Record.Pages, &Record.Address))) {
    throw PeError("no memory for an image of " + std::to_string(Info.SizeOfImage) + " bytes");
  }
  MapPe(Info, PeFile.data(), PeFile.size(), Memory_.HostPointer(Record.Address, Info.SizeOfImage));
  const uint64_t Size = Info.SizeOfImage;
  EFI_HANDLE Handle = InstallImage(DeviceHandle, FilePath, std::move(Record));
  Images_[Handle].Protocol->ImageSize = Size;
  return Handle;
}

EFI_HANDLE Machine::CreateLoadedImage(EFI_HANDLE DeviceHandle, const std::u16string &Name) {
  return InstallImage(DeviceHandle, Name, ImageRecord{});
}

EFI_LOADED_IMAGE_PROTOCOL *Machine::LoadedImage(EFI_HANDLE ImageHandle) const {
  auto It = Images_.find(ImageHandle);
  return It == Images_.end() ? nullptr : It->second.Protocol.get();
}

EFI_STATUS Machine::UnloadImage(EFI_HANDLE ImageHandle) {
  auto It = Images_.find(ImageHandle);
  if (It == Images_.end()) {
    return EFI_INVALID_PARAMETER;
  }
  if (It->second.Protocol->Unload != nullptr) {
    EFI_STATUS Status = It->second.Protocol->Unload(ImageHandle);
    if (EFI_ERROR(Status)) {
      Note("image unload refused with status " + Hex(Status, 16) + ": image kept");
      return Status;
    }
  }
  if (It->second.Pages != 0) {
    Pages_.Free(It->second.Address, It->second.Pages);
  }
  Protocols_.RemoveHandle(ImageHandle);
  Images_.erase(It);
  return EFI_SUCCESS;
}

// ---- Console and keys ---------------------------------------------------------

EFI_STATUS Machine::ReadKey(EFI_INPUT_KEY *Key) {
  Counters_.KeyReads++;
  return Keyboard_.ReadKey(Key, [this](const std::string &Text) { Note(Text); });
}

void Machine::SetTerminalMode(bool On, std::ostream *Out) {
  Console_.SetTerminal(On ? (Out != nullptr ? Out : &std::cout) : nullptr);
  Keyboard_.SetInteractive(On);
}

// ---- Time and PCI ---------------------------------------------------------------

void Machine::Stall(uint64_t Microseconds) {
  Counters_.Stalls++;
  AdvanceNs(Microseconds * 1000);
}

uint64_t Machine::ReadTsc() {
  AdvanceNs(Profile_.TscReadStepNs);
  return NowNs_;
}

EFI_STATUS Machine::GetTime(EFI_TIME *Time) const {
  if (Time == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const int64_t Seconds = ClockStart_ + static_cast<int64_t>(NowNs_ / 1000000000u);
  // Civil date from days since 1970-01-01 (proleptic Gregorian).
  const int64_t Days = Seconds / 86400;
  const int64_t OfDay = Seconds % 86400;
  const int64_t Z = Days + 719468;
  const int64_t Era = Z / 146097;
  const int64_t Doe = Z - Era * 146097;
  const int64_t Yoe = (Doe - Doe / 1460 + Doe / 36524 - Doe / 146096) / 365;
  const int64_t Doy = Doe - (365 * Yoe + Yoe / 4 - Yoe / 100);
  const int64_t Mp = (5 * Doy + 2) / 153;
  const int64_t Day = Doy - (153 * Mp + 2) / 5 + 1;
  const int64_t Month = Mp < 10 ? Mp + 3 : Mp - 9;
  std::memset(Time, 0, sizeof(*Time));
  Time->Year = static_cast<UINT16>(Yoe + Era * 400 + (Month <= 2));
  Time->Month = static_cast<UINT8>(Month);
  Time->Day = static_cast<UINT8>(Day);
  Time->Hour = static_cast<UINT8>(OfDay / 3600);
  Time->Minute = static_cast<UINT8>(OfDay / 60 % 60);
  Time->Second = static_cast<UINT8>(OfDay % 60);
  Time->Nanosecond = static_cast<UINT32>(NowNs_ % 1000000000u);
  Time->TimeZone = 2047;  // EFI_UNSPECIFIED_TIMEZONE
  return EFI_SUCCESS;
}

EFI_STATUS Machine::PciRead32(uint8_t Bus, uint8_t Device, uint8_t Function, uint16_t Register, uint32_t *Value) const {
  if (Value == nullptr || Device > 31 || Function > 7 || Register > 0xFFC || (Register & 3) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  *Value = 0xFFFFFFFFu;  // no device answers
  for (const PciValueConfig &Config : Profile_.Pci) {
    if (Config.Bus == Bus && Config.Device == Device && Config.Function == Function && Config.Register == Register) {
      *Value = Config.Value;
    }
  }
  return EFI_SUCCESS;
}

// ---- Report ------------------------------------------------------------------------

nlohmann::json Machine::Report(const nlohmann::json &Extra) const {
  nlohmann::json Screen = nlohmann::json::array();
  for (uint32_t Row = 0; Row < Console_.Rows(); Row++) {
    Screen.push_back(Console_.RowText(Row));
  }
  nlohmann::json Smi = nlohmann::json::array();
  for (const SmiRecord &R : Transcript_) {
    nlohmann::json Entry = {{"seq", R.Sequence}, {"in", RegistersJson(R.In)}, {"timeNs", R.TimeNs}};
    if (R.Delivered) {
      Entry["out"] = RegistersJson(R.Out);
      Entry["esi"] = {{"length", R.EsiLength}, {"crcIn", Hex(R.EsiCrcIn, 8)}, {"crcOut", Hex(R.EsiCrcOut, 8)}};
      Entry["edi"] = {{"length", R.EdiLength}, {"crcIn", Hex(R.EdiCrcIn, 8)}, {"crcOut", Hex(R.EdiCrcOut, 8)}};
    } else {
      Entry["note"] = "no SMI";
    }
    Smi.push_back(Entry);
  }
  nlohmann::json Calls = nlohmann::json::object();
  for (int Function = 0; Function < 256; Function++) {
    if (Bios_->CallCount[Function] != 0) {
      Calls[Hex(Function, 2)] = Bios_->CallCount[Function];
    }
  }
  nlohmann::json Hooks = nlohmann::json::array();
  for (uint32_t Index = Bios_->HookCount < EMU_BIOS_HOOK_RING_SIZE ? Bios_->HookCount : EMU_BIOS_HOOK_RING_SIZE; Index > 0; Index--) {
    UINT32 Code = 0;
    EmuBiosRecentHookCode(Bios_.get(), Index - 1, &Code);
    Hooks.push_back(Code);  // oldest first
  }
  nlohmann::json Out = {
      {"machine", Profile_.Name},
      {"console",
       {{"screen", Screen},
        {"cursor", {{"column", Console_.CursorColumn()}, {"row", Console_.CursorRow()}}},
        {"attribute", Hex(Console_.Attribute(), 2)},
        {"transcript", Console_.Transcript()}}},
      {"smi", Smi},
      {"bios",
       {{"calls", Calls},
        {"totalCalls", Bios_->TotalCalls},
        {"badSignatureCalls", Bios_->BadSignatureCalls},
        {"unhandledCalls", Bios_->UnhandledCalls},
        {"hookCodes", Hooks},
        {"completion",
         {{"requests", Bios_->Completion.Requests},
          {"malformedRequests", Bios_->Completion.MalformedRequests},
          {"clearCmos", Bios_->Completion.ClearCmos},
          {"action", Bios_->Completion.Action},
          {"status", Bios_->Completion.Status}}}}},
      {"rtc",
       {{"registerB", Hex(Cmos_->Peek(Cmos::kRegisterB), 2)},
        {"alarm", {{"hours", Hex(Cmos_->Peek(Cmos::kHoursAlarm), 2)},
                   {"minutes", Hex(Cmos_->Peek(Cmos::kMinutesAlarm), 2)},
                   {"seconds", Hex(Cmos_->Peek(Cmos::kSecondsAlarm), 2)}}}}},
      {"variables", Variables_.ToJson(false)},
      {"counters",
       {{"poolAllocations", Counters_.PoolAllocations},
        {"poolFailures", Counters_.PoolFailures},
        {"pageAllocations", Counters_.PageAllocations},
        {"pageFailures", Counters_.PageFailures},
        {"pageFrees", Counters_.PageFrees},
        {"pagesInUse", Pages_.PagesInUse()},
        {"stalls", Counters_.Stalls},
        {"keyReads", Counters_.KeyReads},
        {"smiTriggers", Counters_.SmiTriggers},
        {"smiDelivered", Counters_.SmiDelivered},
        {"openFiles", Files_.size()}}},
      {"timeNs", NowNs_},
      {"notes", Notes_},
  };
  Out["bios"]["checks"] = ChecksReport(Bios_->Checks);
  Out["bios"]["signed"] = SignedReport(Bios_->Signed, ExtraItems_);
  nlohmann::json Blocks = nlohmann::json::array();
  std::map<std::string, uint32_t> Counts = {{"written", 0}, {"skipped", 0}, {"locked", 0}, {"failed", 0}};
  for (const BlockWrite &B : BlockWrites_) {
    const char *Outcome = BlockWriteOutcome(B.Status);
    Counts[Outcome]++;
    Blocks.push_back({{"address", Hex(B.Address, 8)},
                      {"length", Hex(B.Length, 1)},
                      {"outcome", Outcome},
                      {"status", Hex(B.Status, 2)},
                      {"attempts", B.Attempts}});
  }
  Out["bios"]["blockWrites"] = {{"counts", Counts}, {"blocks", Blocks}, {"blocksErased", Bios_->Flash.BlocksErased}};
  const ModeledTime Time = Modeled();
  const EMU_FLASH_TIMING &T = Bios_->Flash.Timing;
  Out["bios"]["modeledTimeNs"] = {{"total", Time.TotalNs()},
                                  {"read", Time.ReadNs},
                                  {"erase", Time.EraseNs},
                                  {"program", Time.ProgramNs},
                                  {"smiOverhead", Time.SmiOverheadNs},
                                  {"busKHz", T.BusKHz},
                                  {"readWidth", T.ReadWidth}};
  Out["bios"]["powerCut"] = nullptr;
  if (PoweredOff()) {
    nlohmann::json Variables = nlohmann::json::array(), Files = nlohmann::json::array();
    for (const DroppedWrite &D : Dropped_) {
      if (D.Variable) {
        Variables.push_back({{"name", D.Name}, {"guid", D.Where}, {"operation", D.Operation}, {"calls", D.Calls},
                             {"bytes", D.Bytes}});
      } else {
        Files.push_back({{"volume", D.Where}, {"path", D.Name}, {"operation", D.Operation}, {"calls", D.Calls},
                         {"bytes", D.Bytes}});
      }
    }
    Out["bios"]["powerCut"] = {{"afterWrites", Bios_->Flash.BlocksWritten},
                               {"address", Hex(Bios_->Flash.PowerCutAddress, 8)},
                               {"callsAfter", Bios_->PoweredOffCalls},
                               {"consoleLength", PowerCutConsoleLength_},
                               {"droppedVariableWrites", Variables},
                               {"droppedFileWrites", Files}};
  }
  if (Extra.is_object()) {
    for (auto It = Extra.begin(); It != Extra.end(); ++It) {
      Out[It.key()] = It.value();
    }
  }
  return Out;
}

void Machine::WriteReport(const std::string &Path, const nlohmann::json &Extra) const {
  std::ofstream Out(Path);
  // Bytes that are not UTF-8 (a host path, 8-bit text the utility sent) become
  // U+FFFD instead of costing the whole report.
  Out << Report(Extra).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  if (!Out) {
    throw std::runtime_error(Path + ": cannot write the report");
  }
}

}  // namespace vyr::emu
