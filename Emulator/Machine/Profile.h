// The machine profile: everything that makes one emulated PC differ from
// another. Read from profile.json; every field has a built-in default.
#ifndef VYR_EMU_PROFILE_H_
#define VYR_EMU_PROFILE_H_

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vyr::emu {

struct ProfileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class VolumeKind { Usb, Sata, Nvme, Emmc, Atapi };
const char *VolumeKindName(VolumeKind Kind);

struct VolumeConfig {
  std::string Name;
  VolumeKind Kind = VolumeKind::Usb;
  std::string Dir;  // relative to the machine directory, or absolute
  bool ReadOnly = false;
};

struct AcpiTableConfig {
  std::string Signature;  // 4 characters
  std::string OemId = "VYRPC ";
  std::vector<uint8_t> Data;  // body after the 36-byte header
  bool BeforeFacp = false;    // listed in the RSDT ahead of the FACP
};

struct AcpiConfig {
  bool Rsdp10 = true;  // configuration-table entry under the ACPI 1.0 GUID
  bool Rsdp20 = true;  // configuration-table entry under the ACPI 2.0 GUID
  bool Rsdt = true;    // false: the RSDP carries RSDT address 0
  bool Facp = true;
  bool Dsdt = true;
  uint32_t SmiCmd = 0xB2;
  std::string DsdtOemId = "VYRPC ";
  bool Fwsm = false;
  uint32_t FwsmAddress = 0x0FF00000;
  uint32_t FwsmSize = 0x20000;
  std::vector<AcpiTableConfig> ExtraTables;
};

struct FsegmentConfig {
  std::optional<uint32_t> SignatureAddress;  // where "$FWSMI" is placed; none by default
  std::optional<uint8_t> MainFunction;       // byte after it; the BIOS's number when absent
};

struct BiosFaultConfig {
  uint8_t Function = 0;
  uint8_t Status = 0;
  uint32_t Call = 1;   // first call answered, 1-based
  uint32_t Count = 1;  // 0 = every call from there on
  std::optional<uint8_t> Ah;
  std::optional<uint32_t> Ecx, Edx, Esi, Edi;
};

// Allocation failure: the Call-th allocation (counting only those that match
// Size when given) and the Count-1 after it; Count 0 = all from there on.
struct AllocFaultConfig {
  uint32_t Call = 1;
  uint32_t Count = 1;
  std::optional<uint64_t> Size;  // bytes for pool, pages for page faults
  bool ZeroAddress = false;      // pages only: "succeed" at address 0
};

struct PciValueConfig {
  uint8_t Bus = 0, Device = 0, Function = 0;
  uint16_t Register = 0;
  uint32_t Value = 0;
};

struct IoPortConfig {
  uint16_t Port = 0;
  uint32_t Value = 0;  // what reads of any width return (low bytes)
};

struct MemoryPatchConfig {
  uint64_t Address = 0;
  std::vector<uint8_t> Bytes;
};

// The answers of the BIOS's platform functions 10h, 11h and 1Ch.
struct BiosCheckConfig {
  bool Present = false;
  uint32_t Offset = 13;  // where the utility looks for it
  uint32_t Size = 13;
  uint8_t CheckBvdt = 0;
};

struct CommandFilterConfig {
  bool Present = false;
  uint32_t Offset = 64;
  uint32_t Size = 28;            // as written into the structure, header included
  std::vector<uint8_t> Bitmap;  // zero-padded (or cut) to Size - 12 bytes
};

struct PlatformConfig {
  uint8_t Permission = 1;
  uint16_t InterfaceVersion = 0x1504;
  uint8_t AcPlug = 1;
  uint8_t DcLife = 100;
  uint8_t DcBound = 0;
  uint32_t Help1 = 0;
  uint32_t Help2 = 0;
  uint16_t VendorId = 0x1234;
  BiosCheckConfig BiosCheck;
  CommandFilterConfig CommandFilter;
  std::string ModelName = "VyrPC";  // UTF-8; at most 32 UTF-16 units
  std::string Version = "V1.00";    // UTF-8; at most 128 UTF-16 units
  uint8_t Switches = 0;
  uint32_t ExtendedSwitches = 0;
  uint8_t AntiTheft = 0;
};

// The flash part and the maps the BIOS's flash functions answer (12h, 13h,
// 14h, 17h, 1Eh). Addresses are flash addresses below 4 GiB; external regions
// are offsets from the ROM base.
struct FlashBlocksConfig {
  uint32_t Size = 0x10000;  // bytes: a multiple of 256, at most 0xFFFF00
  uint32_t Count = 0;       // at most 0xFFFF
};

struct FlashRegionConfig {
  uint8_t Type = 0;
  uint32_t Address = 0;
  uint32_t Size = 0;
  uint32_t Attribute = 0;  // whole map only
};

struct FlashRangeConfig {
  uint32_t Address = 0;
  uint32_t Size = 0;
};

struct ExternalRegionConfig {
  uint8_t Type = 0;
  uint32_t Offset = 0;
  uint32_t Size = 0;
  uint8_t Access = 0;
};

struct FlashConfig {
  uint32_t Size = 0x800000;                // the contents; mapped at 2^32 - size
  std::optional<uint8_t> SizeIndex;        // default: the index of Size, else 0xFF
  std::optional<uint32_t> SizeSpecified;   // default: Size with index 0xFF, else 0
  std::string Vendor = "Vyr";              // at most 31 bytes
  std::string Type = "VF25Q64";            // at most 32 bytes
  uint32_t DeviceId = 0x00EF4017;
  std::vector<FlashBlocksConfig> BlockMap; // empty: 64 KiB blocks over Size
  std::vector<FlashRegionConfig> ProtectMap;
  std::vector<FlashRangeConfig> PrivateMap;
  std::vector<FlashRegionConfig> WholeMap;
  std::vector<ExternalRegionConfig> ExternalRegions;
  bool NewRegionsFromImage = true;         // 17h decodes a descriptor in the new image
  bool ProgramClearsBitsOnly = false;      // program ANDs into the cells (writes erase first anyway)
  std::vector<FlashRangeConfig> LockedRanges;  // reads and writes answer 0x2A
  std::vector<FlashRangeConfig> SkipRanges;    // writes answer 0x29 (the BIOS keeps the block)
  // What the part's operations cost (see EMU_FLASH_TIMING): whole units for
  // the profile, converted for the BIOS.
  struct Timing {
    uint32_t BusKHz = 48000;
    uint8_t ReadWidth = 2;
    uint8_t ReadDummyClocks = 8;
    uint16_t CycleBytes = 64;
    uint32_t PageProgramUs = 400;
    uint32_t SectorEraseMs = 45;
    uint32_t Block32EraseMs = 120;
    uint32_t Block64EraseMs = 150;
    uint32_t SmiOverheadUs = 100;
  } Timing;
  std::string Image;                       // first contents; relative to the machine directory
  uint8_t Fill = 0xFF;                     // first contents without an image

  uint8_t ResolvedSizeIndex() const;
  uint32_t ResolvedSizeSpecified() const;
  std::vector<FlashBlocksConfig> ResolvedBlockMap() const;
};

// The answers of the BIOS's checks and notifications of the update flows
// (19h, 1Ah, 1Bh, 1Dh, 21h, 41h, 43h, 44h, 45h, 48h, 49h, 4Ch).
struct CommonFlashConfig {
  bool Supported = false;  // false: 44h answers 0xEF
  uint16_t Permit = 1;
  uint16_t Message = 0;
  uint16_t Action = 0;
};

struct SecureCapsuleConfig {
  bool Supported = false;    // 48h support query answers 0, else 0xEF
  bool Esp = false;          // answer flags bit 0
  uint8_t Status = 0;        // AL for a capsule that passed every check (0 accepts it)
  uint8_t Action = 1;        // CL with status 0 (0 S3, 1 reboot, 2 shutdown, 3 nothing)
  uint32_t FailAfterBlocks = 0;     // the reset writes this many blocks, then fails (0 never)
  bool PowerCutBeforeReset = false;  // the power goes right after an accepted submission
};

// 4Ch with an image: what the OEM secure BIOS does with a verified one.
struct RbuConfig {
  uint8_t Status = 0;        // AL for an image that passed every check (0 accepts it)
  bool Fallback = false;     // AH bit 1 of a refused image
  uint8_t Action = 1;        // CL after a flash
  uint32_t FailAfterBlocks = 0;
};

struct ChecksConfig {
  std::vector<std::string> OemStrings;  // 19h answer list; empty: 00 FF
  uint8_t NotifyStatus = 0;             // 1Ah
  uint8_t SkipModelCheckStatus = 0;     // 1Bh, every block
  uint8_t IniStatus = 0;                // 1Dh
  bool ConditionalDataSupported = false;  // 45h
  uint8_t ConditionalDataResult = 1;
  uint8_t RestoreStatus = 0;            // 49h AL
  uint16_t RestoreWord = 0;             // 49h status word
  std::string Password;                 // 43h; empty: none set
  CommonFlashConfig CommonFlash;        // 44h
  SecureCapsuleConfig SecureCapsule;    // 48h
  bool OemSecure = false;               // 4Ch
  bool Pfat = false;                    // 41h type 0x58
  std::vector<uint8_t> SigningKey;      // RSA-2048 modulus (e = 65537), big-endian; empty: none
  RbuConfig Rbu;                        // 4Ch images
  uint32_t PfatPacketLimit = 0x100000;  // 41h type 0x58: bytes allowed per packet
  uint32_t PfatFailAtPacket = 0;        // that packet's result reports a failed write (0 never)
  uint32_t ExtraDataLimit = 0x100000;   // largest -edt item 41h accepts
  std::vector<uint32_t> EcPartSizes = {0x20000};  // 21h; empty: no EC (0xEF)
};

struct Profile {
  std::string Name = "default";
  std::vector<MemoryPatchConfig> MemoryPatches;
  AcpiConfig Acpi;
  FsegmentConfig Fsegment;
  uint8_t BiosMainFunction = 0xEF;
  std::vector<BiosFaultConfig> BiosFaults;
  uint32_t PowerCutAfterWrites = 0;  // 0: never; else off after that many 15h writes
  uint32_t CorruptReadBacks = 0;     // verify reads (right after a write) answered with a wrong byte
  PlatformConfig Platform;
  ChecksConfig Checks;
  FlashConfig Flash;
  std::vector<VolumeConfig> Volumes;
  uint32_t ConsoleColumns = 80;
  uint32_t ConsoleRows = 25;
  std::vector<std::string> Keys;  // scripted key presses (see docs/machine-profile.md)
  uint32_t KeyIdlePolls = 3;      // EFI_NOT_READY answers before Enter is assumed
  std::string ClockStart = "2026-12-06 10:00:00";
  uint64_t TimerPeriodFs = 100000000;  // 100 ns
  uint64_t TscReadStepNs = 1000;       // virtual time each TSC read moves on
  bool RtcBinary = false;              // RTC register B bit 2 at power-on (else BCD)
  std::vector<AllocFaultConfig> PoolFaults;
  std::vector<AllocFaultConfig> PageFaults;
  std::vector<PciValueConfig> Pci;
  std::vector<IoPortConfig> IoPorts;

  static Profile Default();
  // Source names the file in error messages.
  static Profile FromJson(const nlohmann::json &Json, const std::string &Source = "profile");
  static Profile Load(const std::string &Path);
  nlohmann::json ToJson() const;
  void Save(const std::string &Path) const;
};

// Host helpers shared by the machine's JSON files.
std::string HexBytes(const std::vector<uint8_t> &Bytes);
std::vector<uint8_t> ParseHexBytes(const std::string &Text, const std::string &What);
// "YYYY-MM-DD HH:MM:SS" → seconds since 1970-01-01 00:00:00 (no time zone).
int64_t ParseClock(const std::string &Text, const std::string &What);

}  // namespace vyr::emu

#endif  // VYR_EMU_PROFILE_H_
