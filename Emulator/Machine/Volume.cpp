#include "Machine/Volume.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Machine/Console.h"

namespace vyr::emu {

namespace {

constexpr uint64_t kModeRead = EFI_FILE_MODE_READ;
constexpr uint64_t kModeReadWrite = EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE;
constexpr uint64_t kModeCreate = EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE;

void Node(std::vector<uint8_t> &Path, uint8_t Type, uint8_t SubType, std::initializer_list<uint8_t> Body) {
  const uint16_t Length = static_cast<uint16_t>(4 + Body.size());
  Path.insert(Path.end(), {Type, SubType, uint8_t(Length & 0xFF), uint8_t(Length >> 8)});
  Path.insert(Path.end(), Body);
}

void EndNode(std::vector<uint8_t> &Path) { Path.insert(Path.end(), {0x7F, 0xFF, 0x04, 0x00}); }

bool FatRefuses(char16_t C) {
  return C < 0x20 || C == u'/' || C == u'"' || C == u'*' || C == u':' || C == u'<' || C == u'>' || C == u'?' || C == u'|';
}

constexpr int kNotRegular = -2;

// Opens a regular file; kNotRegular when something else took the name since
// it was looked at (without blocking on a FIFO that appeared there).
int OpenRegular(const std::string &Path, int Flags) {
  const int Fd = open(Path.c_str(), Flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
  if (Fd < 0) {
    return -1;
  }
  struct stat Info;
  if (fstat(Fd, &Info) != 0 || !S_ISREG(Info.st_mode)) {
    close(Fd);
    return kNotRegular;
  }
  fcntl(Fd, F_SETFL, fcntl(Fd, F_GETFL) & ~O_NONBLOCK);
  return Fd;
}

}  // namespace

std::vector<uint8_t> BuildVolumeDevicePath(VolumeKind Kind, uint32_t Index) {
  std::vector<uint8_t> Path;
  // PciRoot(Index): ACPI node with HID PNP0A03 (EISA-encoded 0x0A0341D0).
  Node(Path, ACPI_DEVICE_PATH, 0x01, {0xD0, 0x41, 0x03, 0x0A, uint8_t(Index), 0, 0, 0});
  const uint8_t Port = static_cast<uint8_t>(Index);
  switch (Kind) {
    case VolumeKind::Usb:  // parent port, interface
      Node(Path, MESSAGING_DEVICE_PATH, MSG_USB_DP, {Port, 0});
      break;
    case VolumeKind::Sata:  // HBA port, port multiplier (none), LUN
      Node(Path, MESSAGING_DEVICE_PATH, MSG_SATA_DP, {Port, 0, 0xFF, 0xFF, 0, 0});
      break;
    case VolumeKind::Nvme:  // namespace 1, EUI-64
      Node(Path, MESSAGING_DEVICE_PATH, MSG_NVME_NAMESPACE_DP, {1, 0, 0, 0, 0x56, 0x59, 0x52, 0, 0, 0, 0, Port});
      break;
    case VolumeKind::Emmc:  // slot, then the controller and partition 1 as firmware names an eMMC ESP
      Node(Path, MESSAGING_DEVICE_PATH, MSG_EMMC_DP, {Port});
      Node(Path, HARDWARE_DEVICE_PATH, 0x05, {0, 0, 0, 0});
      Node(Path, MEDIA_DEVICE_PATH, 0x01,
           {1, 0, 0, 0, 0x00, 0x08, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x10, 0, 0, 0, 0, 0, 0x56, 0x59, 0x52, Port, 0, 0,
            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0x02});
      break;
    case VolumeKind::Atapi:  // secondary channel, master, LUN 0
      Node(Path, MESSAGING_DEVICE_PATH, MSG_ATAPI_DP, {1, 0, 0, 0});
      break;
  }
  EndNode(Path);
  return Path;
}

std::vector<uint8_t> BuildFilePathDevicePath(const std::u16string &FilePath) {
  std::vector<uint8_t> Path;
  const size_t Length = 4 + (FilePath.size() + 1) * 2;
  Path.insert(Path.end(), {MEDIA_DEVICE_PATH, 0x04, uint8_t(Length & 0xFF), uint8_t(Length >> 8)});
  for (char16_t C : FilePath) {
    Path.push_back(uint8_t(C & 0xFF));
    Path.push_back(uint8_t(C >> 8));
  }
  Path.insert(Path.end(), {0, 0});
  EndNode(Path);
  return Path;
}

bool NormaliseUefiPath(const std::vector<std::string> &Base, const std::u16string &Path, std::vector<std::string> *Out) {
  std::vector<std::string> Result;
  if (Path.empty() || Path[0] != u'\\') {
    Result = Base;
  }
  size_t Start = 0;
  while (Start <= Path.size()) {
    size_t End = Path.find(u'\\', Start);
    if (End == std::u16string::npos) {
      End = Path.size();
    }
    const std::u16string Part = Path.substr(Start, End - Start);
    Start = End + 1;
    if (Part.empty() || Part == u".") {
      continue;
    }
    if (Part == u"..") {
      if (!Result.empty()) {
        Result.pop_back();
      }
      continue;
    }
    for (char16_t C : Part) {
      if (FatRefuses(C)) {
        return false;
      }
    }
    Result.push_back(Utf16ToUtf8(Part));
  }
  *Out = std::move(Result);
  return true;
}

Volume::Volume(const VolumeConfig &Config, std::string HostRoot, uint32_t Index)
    : Config_(Config), HostRoot_(std::move(HostRoot)), DevicePath_(BuildVolumeDevicePath(Config.Kind, Index)) {}

std::string Volume::HostPath(const std::vector<std::string> &Components) const {
  std::string Path = HostRoot_;
  for (const std::string &Part : Components) {
    Path += "/" + Part;
  }
  return Path;
}

File::File(Volume *Owner, std::vector<std::string> Components, bool Directory, uint64_t Mode, int Fd)
    : Owner_(Owner), Components_(std::move(Components)), Directory_(Directory), Mode_(Mode), Fd_(Fd) {}

File::~File() {
  if (Fd_ >= 0) {
    close(Fd_);
  }
}

EFI_STATUS File::OpenRoot(Volume *Owner, std::unique_ptr<File> *Root) {
  struct stat Info;
  if (stat(Owner->HostRoot().c_str(), &Info) != 0 || !S_ISDIR(Info.st_mode)) {
    return EFI_NO_MEDIA;
  }
  Root->reset(new File(Owner, {}, true, Owner->ReadOnly() ? kModeRead : kModeReadWrite, -1));
  return EFI_SUCCESS;
}

EFI_STATUS File::Open(const std::u16string &Name, uint64_t Mode, uint64_t Attributes, std::unique_ptr<File> *Result) const {
  if (Mode != kModeRead && Mode != kModeReadWrite && Mode != kModeCreate) {
    return EFI_INVALID_PARAMETER;
  }
  if (!Directory_) {
    return EFI_INVALID_PARAMETER;  // names are opened relative to a directory
  }
  std::vector<std::string> Components;
  if (!NormaliseUefiPath(Components_, Name, &Components)) {
    return EFI_INVALID_PARAMETER;
  }
  const bool Write = (Mode & EFI_FILE_MODE_WRITE) != 0;
  if (Write && Owner_->ReadOnly()) {
    return EFI_WRITE_PROTECTED;
  }
  const std::string Path = Owner_->HostPath(Components);
  struct stat Info;
  if (stat(Path.c_str(), &Info) == 0) {
    if (S_ISDIR(Info.st_mode)) {
      Result->reset(new File(Owner_, std::move(Components), true, Mode, -1));
      return EFI_SUCCESS;
    }
    // A FAT volume holds files and directories only. A FIFO, socket or device
    // in the host folder is never opened (that could block the run, or act on
    // a device): it is there, but it cannot be read or written.
    if (!S_ISREG(Info.st_mode)) {
      return EFI_ACCESS_DENIED;
    }
    int Fd = OpenRegular(Path, (Write ? O_RDWR : O_RDONLY));
    if (Fd == kNotRegular) {
      return EFI_ACCESS_DENIED;
    }
    if (Fd < 0) {
      return errno == EACCES ? EFI_ACCESS_DENIED : EFI_DEVICE_ERROR;
    }
    Result->reset(new File(Owner_, std::move(Components), false, Mode, Fd));
    return EFI_SUCCESS;
  }
  if ((Mode & EFI_FILE_MODE_CREATE) == 0 || Components.empty()) {
    return EFI_NOT_FOUND;
  }
  std::vector<std::string> Parent(Components.begin(), Components.end() - 1);
  if (stat(Owner_->HostPath(Parent).c_str(), &Info) != 0 || !S_ISDIR(Info.st_mode)) {
    return EFI_NOT_FOUND;
  }
  if ((Attributes & EFI_FILE_DIRECTORY) != 0) {
    if (mkdir(Path.c_str(), 0755) != 0) {
      return EFI_DEVICE_ERROR;
    }
    Result->reset(new File(Owner_, std::move(Components), true, Mode, -1));
    return EFI_SUCCESS;
  }
  int Fd = OpenRegular(Path, O_RDWR | O_CREAT);
  if (Fd == kNotRegular) {
    return EFI_ACCESS_DENIED;
  }
  if (Fd < 0) {
    return EFI_DEVICE_ERROR;
  }
  Result->reset(new File(Owner_, std::move(Components), false, Mode, Fd));
  return EFI_SUCCESS;
}

EFI_STATUS File::CheckWritable() const {
  if (Owner_->ReadOnly()) {
    return EFI_WRITE_PROTECTED;
  }
  if ((Mode_ & EFI_FILE_MODE_WRITE) == 0) {
    return EFI_ACCESS_DENIED;
  }
  return EFI_SUCCESS;
}

EFI_STATUS File::Read(uintptr_t *Size, void *Buffer) {
  if (Size == nullptr || (Buffer == nullptr && *Size != 0)) {
    return EFI_INVALID_PARAMETER;
  }
  if (Directory_) {
    return EFI_UNSUPPORTED;  // directory listings are not needed by the utility
  }
  struct stat Info;
  if (fstat(Fd_, &Info) != 0) {
    return EFI_DEVICE_ERROR;
  }
  const uint64_t FileSize = static_cast<uint64_t>(Info.st_size);
  if (Position_ > FileSize) {
    return EFI_DEVICE_ERROR;
  }
  uint64_t Want = std::min<uint64_t>(*Size, FileSize - Position_);
  uint64_t Done = 0;
  while (Done < Want) {
    ssize_t Got = pread(Fd_, static_cast<uint8_t *>(Buffer) + Done, Want - Done, static_cast<off_t>(Position_ + Done));
    if (Got <= 0) {
      return EFI_DEVICE_ERROR;
    }
    Done += static_cast<uint64_t>(Got);
  }
  Position_ += Done;
  *Size = static_cast<uintptr_t>(Done);
  return EFI_SUCCESS;
}

EFI_STATUS File::Write(uintptr_t *Size, const void *Buffer) {
  if (Size == nullptr || (Buffer == nullptr && *Size != 0)) {
    return EFI_INVALID_PARAMETER;
  }
  if (Directory_) {
    return EFI_UNSUPPORTED;
  }
  EFI_STATUS Status = CheckWritable();
  if (EFI_ERROR(Status)) {
    return Status;
  }
  uint64_t Done = 0;
  while (Done < *Size) {
    ssize_t Put = pwrite(Fd_, static_cast<const uint8_t *>(Buffer) + Done, *Size - Done, static_cast<off_t>(Position_ + Done));
    if (Put <= 0) {
      *Size = static_cast<uintptr_t>(Done);
      Position_ += Done;
      return errno == ENOSPC ? EFI_VOLUME_FULL : EFI_DEVICE_ERROR;
    }
    Done += static_cast<uint64_t>(Put);
  }
  Position_ += Done;
  return EFI_SUCCESS;
}

EFI_STATUS File::SetPosition(uint64_t Position) {
  if (Directory_) {
    if (Position != 0) {
      return EFI_UNSUPPORTED;
    }
    Position_ = 0;
    return EFI_SUCCESS;
  }
  if (Position == UINT64_MAX) {
    struct stat Info;
    if (fstat(Fd_, &Info) != 0) {
      return EFI_DEVICE_ERROR;
    }
    Position = static_cast<uint64_t>(Info.st_size);
  }
  Position_ = Position;
  return EFI_SUCCESS;
}

EFI_STATUS File::GetPosition(uint64_t *Position) const {
  if (Position == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Directory_) {
    return EFI_UNSUPPORTED;
  }
  *Position = Position_;
  return EFI_SUCCESS;
}

EFI_STATUS File::Flush() {
  if (Directory_) {
    return EFI_SUCCESS;
  }
  return CheckWritable();
}

EFI_STATUS File::SetSize(uint64_t Size) {
  if (Directory_) {
    return EFI_UNSUPPORTED;
  }
  EFI_STATUS Status = CheckWritable();
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return ftruncate(Fd_, static_cast<off_t>(Size)) == 0 ? EFI_SUCCESS : EFI_DEVICE_ERROR;
}

EFI_STATUS File::Delete() {
  if (Owner_->ReadOnly()) {
    return EFI_WRITE_PROTECTED;
  }
  if ((Mode_ & EFI_FILE_MODE_WRITE) == 0 || Components_.empty()) {
    return EFI_WARN_DELETE_FAILURE;
  }
  const std::string Path = HostPath();
  const int Result = Directory_ ? rmdir(Path.c_str()) : unlink(Path.c_str());
  return Result == 0 ? EFI_SUCCESS : EFI_WARN_DELETE_FAILURE;
}

}  // namespace vyr::emu
