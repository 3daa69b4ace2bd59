// File volumes of the emulated PC: host directories seen through the UEFI
// Simple File System and File protocols, each with its device path.
#ifndef VYR_EMU_VOLUME_H_
#define VYR_EMU_VOLUME_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Base.h"
#include "Machine/Profile.h"

namespace vyr::emu {

// Device path of the Index-th volume: PciRoot, one messaging node of the
// volume's kind, end node.
std::vector<uint8_t> BuildVolumeDevicePath(VolumeKind Kind, uint32_t Index);
// Media file-path node with the path, then the end node.
std::vector<uint8_t> BuildFilePathDevicePath(const std::u16string &Path);

// Resolves a '\' separated UEFI path against Base (components from the volume
// root). "." and empty components vanish, ".." never climbs above the root.
// FALSE for characters a FAT volume refuses (including '/').
bool NormaliseUefiPath(const std::vector<std::string> &Base, const std::u16string &Path, std::vector<std::string> *Out);

class Volume {
 public:
  Volume(const VolumeConfig &Config, std::string HostRoot, uint32_t Index);
  const std::string &Name() const { return Config_.Name; }
  VolumeKind Kind() const { return Config_.Kind; }
  bool ReadOnly() const { return Config_.ReadOnly; }
  const std::string &HostRoot() const { return HostRoot_; }
  const std::vector<uint8_t> &DevicePath() const { return DevicePath_; }
  std::string HostPath(const std::vector<std::string> &Components) const;

  EFI_HANDLE Handle = nullptr;

 private:
  VolumeConfig Config_;
  std::string HostRoot_;
  std::vector<uint8_t> DevicePath_;
};

// One open file or directory (what EFI_FILE_PROTOCOL is to firmware).
class File {
 public:
  File(Volume *Owner, std::vector<std::string> Components, bool Directory, uint64_t Mode, int Fd);
  ~File();
  File(const File &) = delete;
  File &operator=(const File &) = delete;

  static EFI_STATUS OpenRoot(Volume *Owner, std::unique_ptr<File> *Root);
  EFI_STATUS Open(const std::u16string &Name, uint64_t Mode, uint64_t Attributes, std::unique_ptr<File> *Result) const;
  EFI_STATUS Read(uintptr_t *Size, void *Buffer);
  EFI_STATUS Write(uintptr_t *Size, const void *Buffer);
  EFI_STATUS SetPosition(uint64_t Position);
  EFI_STATUS GetPosition(uint64_t *Position) const;
  EFI_STATUS Flush();
  EFI_STATUS SetSize(uint64_t Size);
  // Removes the file or empty directory; the caller closes the handle either way.
  EFI_STATUS Delete();

  Volume *Owner() const { return Owner_; }
  bool IsDirectory() const { return Directory_; }
  const std::vector<std::string> &Components() const { return Components_; }
  std::string HostPath() const { return Owner_->HostPath(Components_); }
  // EFI_SUCCESS when the handle may change the file: a writable volume, opened for write.
  EFI_STATUS CheckWritable() const;

 private:
  Volume *Owner_;
  std::vector<std::string> Components_;
  bool Directory_;
  uint64_t Mode_;
  int Fd_;
  uint64_t Position_ = 0;
};

}  // namespace vyr::emu

#endif  // VYR_EMU_VOLUME_H_
