// The emulated PC: memory with ACPI tables and the F-segment, I/O ports and
// the SMI command port wired to the emulated BIOS, handles and protocols,
// file volumes, loaded images, variables, console and keys, virtual time and
// PCI configuration reads. Host-only; the utility reaches it through the
// host backend of the platform facade.
#ifndef VYR_EMU_MACHINE_H_
#define VYR_EMU_MACHINE_H_

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Base.h"
#include "Bios/EmuBios.h"
#include "Machine/Acpi.h"
#include "Machine/Cmos.h"
#include "Machine/Console.h"
#include "Machine/Memory.h"
#include "Machine/Profile.h"
#include "Machine/Protocols.h"
#include "Machine/Variables.h"
#include "Machine/Volume.h"
#include "SmiRegisters.h"

namespace vyr::emu {

// GUIDs the machine publishes (kept here so the emulator needs nothing of the utility).
extern const EFI_GUID kAcpi10TableGuid;
extern const EFI_GUID kAcpi20TableGuid;
extern const EFI_GUID kLoadedImageProtocolGuid;
extern const EFI_GUID kSimpleFileSystemProtocolGuid;
extern const EFI_GUID kDevicePathProtocolGuid;

// Bytes of the buffers at ESI and EDI that the SMI transcript digests.
constexpr size_t kSmiDigestLength = 256;

struct SmiRecord {
  uint64_t Sequence = 0;  // 1-based over all TriggerSmi calls
  SMI_REGISTERS In = {};
  SMI_REGISTERS Out = {};
  bool Delivered = false;  // DX was the SMI command port
  // CRC-32 of the first bytes (up to kSmiDigestLength, as far as memory is
  // backed) at the ESI and EDI of the call, before and after the handler ran.
  uint32_t EsiLength = 0, EdiLength = 0;
  uint32_t EsiCrcIn = 0, EsiCrcOut = 0, EdiCrcIn = 0, EdiCrcOut = 0;
  uint64_t TimeNs = 0;  // virtual time after the settle loop
};

// What the emulated BIOS answered to the 15h writes of one flash address
// (the latest call counts; retries add attempts).
struct BlockWrite {
  uint32_t Address = 0;
  uint32_t Length = 0;
  uint8_t Status = 0;     // AL of the latest call
  uint32_t Attempts = 0;  // 15h calls for this address
};

// A change of NV variables or volume files that the run asked for after the
// power cut and the frozen machine dropped, one per target and operation.
struct DroppedWrite {
  bool Variable = false;  // else a file
  std::string Operation;  // variables: "set", "delete"; files: "write", "resize", "create", "mkdir", "delete"
  std::string Name;       // variable name, or file path on its volume ("\\dir\\file")
  std::string Where;      // variable GUID, or volume name
  uint64_t Calls = 0;
  uint64_t Bytes = 0;     // data of the sets and writes
};

// "written" (0), "skipped" (0x29: the BIOS kept the block), "locked" (0x2A) or "failed".
const char *BlockWriteOutcome(uint8_t Status);

struct ConfigTableEntry {
  EFI_GUID Guid;
  uint64_t Address;
};

struct PortWrite {
  uint16_t Port;
  unsigned Width;
  uint32_t Value;
};

struct MachineCounters {
  uint64_t PoolAllocations = 0;
  uint64_t PoolFailures = 0;
  uint64_t PageAllocations = 0;
  uint64_t PageFailures = 0;
  uint64_t PageFrees = 0;
  uint64_t Stalls = 0;
  uint64_t KeyReads = 0;
  uint64_t SmiTriggers = 0;
  uint64_t SmiDelivered = 0;
};

// The modeled time of the run on real hardware (EMU_FLASH_TIMING): the flash
// part's reads, erases and programs, and each software SMI's own cost with the
// utility's settle wait after it.
struct ModeledTime {
  uint64_t ReadNs = 0;
  uint64_t EraseNs = 0;
  uint64_t ProgramNs = 0;
  uint64_t SmiOverheadNs = 0;
  uint64_t TotalNs() const { return ReadNs + EraseNs + ProgramNs + SmiOverheadNs; }
};

uint32_t Crc32(const void *Data, size_t Length);

class Machine {
 public:
  // A machine in memory: nothing persists. Relative volume directories are
  // taken from BaseDir (the working directory when empty) and are created at
  // the first OpenVolume when missing.
  explicit Machine(const Profile &P, const std::string &BaseDir = "");
  // A machine kept in Dir: profile.json (written with the default profile on
  // first use), variables.json, the volume folders.
  static std::unique_ptr<Machine> OpenDirectory(const std::string &Dir);
  ~Machine();
  Machine(const Machine &) = delete;
  Machine &operator=(const Machine &) = delete;

  const Profile &GetProfile() const { return Profile_; }
  const std::string &Directory() const { return Directory_; }

  // ---- Memory ----
  PhysicalMemory &Memory() { return Memory_; }
  const AcpiLayout &Acpi() const { return Acpi_; }
  bool ReadPhysical(uint64_t Address, void *Buffer, size_t Length) const { return Memory_.Read(Address, Buffer, Length); }
  bool WritePhysical(uint64_t Address, const void *Buffer, size_t Length) { return Memory_.Write(Address, Buffer, Length); }
  // With the profile's page faults applied.
  EFI_STATUS AllocatePages(uint64_t MaxAddress, uint64_t Pages, uint64_t *Address);
  EFI_STATUS FreePages(uint64_t Address, uint64_t Pages);
  // Counts one pool allocation; false when the profile makes it fail.
  bool PoolAllocationAllowed(size_t Size);
  uint64_t PagesInUse() const { return Pages_.PagesInUse(); }

  // ---- Configuration table ----
  const std::vector<ConfigTableEntry> &ConfigurationTable() const { return ConfigTable_; }
  EFI_STATUS GetConfigurationTable(const EFI_GUID &Guid, uint64_t *Address) const;

  // ---- I/O ports ----
  using PortReader = std::function<uint32_t(uint16_t Port, unsigned Width)>;
  using PortWriter = std::function<void(uint16_t Port, unsigned Width, uint32_t Value)>;
  void MapPort(uint16_t Port, PortReader Reader, PortWriter Writer);
  uint32_t IoRead(uint16_t Port, unsigned Width);  // Width 1, 2 or 4 bytes
  void IoWrite(uint16_t Port, unsigned Width, uint32_t Value);
  const std::vector<PortWrite> &UnmappedPortWrites() const { return PortWrites_; }
  uint16_t SmiCommandPort() const { return static_cast<uint16_t>(Profile_.Acpi.SmiCmd & 0xFFFF); }

  // ---- Software SMI ----
  void TriggerSmi(SMI_REGISTERS &Regs, uint32_t SettleCount);
  const std::vector<SmiRecord> &SmiTranscript() const { return Transcript_; }
  EMU_BIOS &Bios() { return *Bios_; }
  // 15h writes by flash address, in the order the addresses were first written.
  const std::vector<BlockWrite> &BlockWrites() const { return BlockWrites_; }

  // ---- Power ----
  // The profile's bios.powerCutAfterWrites turned the machine off: no SMI is
  // answered any more, flash.bin already holds what was written, and the
  // console output from PowerCutConsoleLength() on never reached a screen.
  bool PoweredOff() const { return Bios_->Flash.PoweredOff != 0; }
  size_t PowerCutConsoleLength() const { return PowerCutConsoleLength_; }
  // From the cut on the machine is frozen: the flash keeps what it held,
  // SetVariable and the file calls that would change a volume (write,
  // resize, create, delete) answer as a running machine would but change
  // nothing, and each is listed here.
  const std::vector<DroppedWrite> &DroppedWrites() const { return Dropped_; }

  // ---- Flash contents ----
  // The flash part's bytes, mapped at FlashBase() = 2^32 - size. A machine
  // kept in a directory stores them in flash.bin: created from the profile on
  // first use, read on every later use, written back by SaveFlash.
  std::vector<uint8_t> &FlashContents() { return Flash_; }
  uint32_t FlashBase() const { return static_cast<uint32_t>(0x100000000ull - Flash_.size()); }
  // Writes flash.bin through flash.bin.tmp and a rename, so that a failed or
  // interrupted save leaves the previous file whole. False for a machine
  // without a directory; throws std::runtime_error with the host's reason.
  bool SaveFlash();
  // Saves the contents when the BIOS changed them since the last save; false
  // with the reason in Error when that failed. The destructor falls back on
  // it, but can only tell stderr: owners call it themselves.
  bool SaveFlashChanges(std::string *Error);

  // ---- Signed updates ----
  // A secure capsule that 48h accepted waits for the reset: the 16h reboot
  // request writes it, and a machine kept in a directory keeps it in
  // capsule-pending.bin (written with the flash) until its next opening,
  // which is that reset. 48h with address 0 reads kEspCapsulePath from the
  // first volume that has it. Complete -edt items are kept by type (and in
  // extra-data/type-XX.bin).
  static constexpr const char *kEspCapsulePath = "EFI/Korvath/capsimg.bin";
  const std::map<uint8_t, std::vector<uint8_t>> &ExtraDataItems() const { return ExtraItems_; }
  // The reset's outcome when the opening of the machine applied a capsule.
  const std::string &ResetNote() const { return ResetNote_; }

  // ---- Handles and protocols ----
  ProtocolRegistry &Protocols() { return Protocols_; }

  // ---- Volumes and files ----
  const std::vector<std::unique_ptr<Volume>> &Volumes() const { return Volumes_; }
  Volume *FindVolume(const std::string &Name) const;
  // FileSystem is the Simple File System interface of a volume handle.
  EFI_STATUS OpenVolume(void *FileSystem, File **Root);
  bool IsOpenFile(const void *Object) const { return Files_.count(static_cast<const File *>(Object)) != 0; }
  EFI_STATUS FileOpen(File *Directory, const CHAR16 *Name, uint64_t Mode, uint64_t Attributes, File **Result);
  EFI_STATUS FileClose(File *F);
  EFI_STATUS FileDelete(File *F);  // closes the file in every case
  EFI_STATUS FileWrite(File *F, uintptr_t *Size, const void *Buffer);
  EFI_STATUS FileSetSize(File *F, uint64_t Size);
  size_t OpenFileCount() const { return Files_.size(); }

  // ---- Loaded images ----
  // Throws PeError for a malformed image.
  EFI_HANDLE LoadImage(const std::vector<uint8_t> &PeFile, EFI_HANDLE DeviceHandle, const std::u16string &FilePath);
  // An image handle for a launcher without a PE file.
  EFI_HANDLE CreateLoadedImage(EFI_HANDLE DeviceHandle, const std::u16string &Name);
  // Runs the image's Unload first; an error from it keeps the image.
  EFI_STATUS UnloadImage(EFI_HANDLE ImageHandle);
  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage(EFI_HANDLE ImageHandle) const;

  // ---- Variables ----
  VariableStore &Variables() { return Variables_; }
  // The runtime service: the store's Set while the power is on.
  EFI_STATUS SetVariable(const CHAR16 *Name, const EFI_GUID *Guid, uint32_t Attributes, uintptr_t DataSize,
                         const void *Data);

  // ---- Console and keys ----
  Console &Screen() { return Console_; }
  Keyboard &Keys() { return Keyboard_; }
  EFI_STATUS ReadKey(EFI_INPUT_KEY *Key);
  // Mirrors the console to Out and reads keys from an interactive stdin.
  void SetTerminalMode(bool On, std::ostream *Out = nullptr);

  // ---- Time ----
  uint64_t NowNs() const { return NowNs_; }
  void AdvanceNs(uint64_t Ns) { NowNs_ += Ns; }
  void Stall(uint64_t Microseconds);
  EFI_STATUS GetTime(EFI_TIME *Time) const;
  // CMOS and RTC on ports 70h/71h.
  Cmos &Rtc() { return *Cmos_; }
  uint64_t ReadTsc();  // 1 GHz: one tick per virtual nanosecond
  uint64_t TimerPeriodFs() const { return Profile_.TimerPeriodFs; }

  // ---- PCI ----
  EFI_STATUS PciRead32(uint8_t Bus, uint8_t Device, uint8_t Function, uint16_t Register, uint32_t *Value) const;

  // ---- Notes, counters, report ----
  void Note(const std::string &Text) { Notes_.push_back(Text); }
  const std::vector<std::string> &Notes() const { return Notes_; }
  const MachineCounters &Counters() const { return Counters_; }
  ModeledTime Modeled() const;
  nlohmann::json Report(const nlohmann::json &Extra = nlohmann::json::object()) const;
  void WriteReport(const std::string &Path, const nlohmann::json &Extra = nlohmann::json::object()) const;

 private:
  struct ImageRecord {
    std::unique_ptr<EFI_LOADED_IMAGE_PROTOCOL> Protocol;
    std::vector<uint8_t> FilePath;
    uint64_t Address = 0;
    uint64_t Pages = 0;
  };
  struct AllocFaultState {
    AllocFaultConfig Config;
    uint64_t Seen = 0;  // matching allocations so far
  };
  static const AllocFaultConfig *MatchFault(std::vector<AllocFaultState> &Faults, uint64_t Size);

  void BuildMemory();
  void BuildVolumes();
  void ApplyBiosProfile();
  void BuildFlash();
  void LoadFlashFile();
  void BuildSigned();
  std::string PendingCapsulePath() const;
  void SavePendingCapsule();
  void ApplyCapsuleAtPowerOn();
  static BOOLEAN ReadEspCapsule(VOID *Context, UINT8 *Buffer, UINT32 Capacity, UINT32 *Size);
  static VOID StoreExtraData(VOID *Context, UINT8 Type, CONST UINT8 *Data, UINT32 Size);
  std::string FlashFilePath() const;
  std::string VolumeRoot(const VolumeConfig &Config) const;
  EFI_HANDLE InstallImage(EFI_HANDLE DeviceHandle, const std::u16string &FilePath, ImageRecord Record);
  void Digest(uint32_t Address, uint32_t *Length, uint32_t *Crc) const;
  void RecordBlockWrite(const SMI_REGISTERS &In, const SMI_REGISTERS &Out);
  void CutPower();
  void Drop(bool Variable, const std::string &Operation, const std::string &Name, const std::string &Where,
            uint64_t Bytes);
  void DropFile(const File *F, const std::vector<std::string> &Components, const std::string &Operation,
                uint64_t Bytes);
  bool OpenFrozen(File *Directory, const CHAR16 *Name, uint64_t Mode, uint64_t Attributes, File **Result);

  Profile Profile_;
  std::string Directory_;
  std::string BaseDir_;
  PhysicalMemory Memory_;
  PageAllocator Pages_;
  AcpiLayout Acpi_;
  std::vector<ConfigTableEntry> ConfigTable_;
  std::map<uint16_t, std::pair<PortReader, PortWriter>> Ports_;
  std::vector<PortWrite> PortWrites_;
  std::unique_ptr<EMU_BIOS> Bios_;
  std::vector<uint8_t> Flash_;  // never resized once the BIOS holds its address
  std::unique_ptr<uint8_t[]> SignedStore_;  // the capsule or RBU image the BIOS holds
  std::unique_ptr<uint8_t[]> ExtraStore_;   // the -edt item being assembled
  std::map<uint8_t, std::vector<uint8_t>> ExtraItems_;
  std::string ResetNote_;
  std::vector<SmiRecord> Transcript_;
  std::vector<BlockWrite> BlockWrites_;
  std::map<uint32_t, size_t> BlockWriteIndex_;
  size_t PowerCutConsoleLength_ = 0;
  std::vector<DroppedWrite> Dropped_;
  bool SaveFailureHandedOut_ = false;  // a SaveFlashChanges caller was told of a failed save
  ProtocolRegistry Protocols_;
  std::vector<std::unique_ptr<Volume>> Volumes_;
  std::map<const File *, std::unique_ptr<File>> Files_;
  std::map<EFI_HANDLE, ImageRecord> Images_;
  VariableStore Variables_;
  Console Console_;
  Keyboard Keyboard_;
  uint64_t NowNs_ = 0;
  std::unique_ptr<Cmos> Cmos_;
  int64_t ClockStart_ = 0;
  std::vector<AllocFaultState> PoolFaults_;
  std::vector<AllocFaultState> PageFaults_;
  uint64_t ZeroPageAllocations_ = 0;
  std::vector<std::string> Notes_;
  MachineCounters Counters_;
  uint64_t SmiOverheadNs_ = 0;
};

}  // namespace vyr::emu

#endif  // VYR_EMU_MACHINE_H_
