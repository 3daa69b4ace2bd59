// The emulated CMOS and real-time clock behind ports 70h (index) and 71h
// (data). The time registers follow the machine's virtual clock; their format
// follows register B bit 2 (binary when set, BCD otherwise). Host-only.
#ifndef VYR_EMU_CMOS_H_
#define VYR_EMU_CMOS_H_

#include <cstdint>
#include <functional>

#include "Base.h"

namespace vyr::emu {

class Cmos {
 public:
  static constexpr uint8_t kSeconds = 0x00, kSecondsAlarm = 0x01, kMinutes = 0x02, kMinutesAlarm = 0x03,
                           kHours = 0x04, kHoursAlarm = 0x05, kDayOfWeek = 0x06, kDayOfMonth = 0x07,
                           kMonth = 0x08, kYear = 0x09, kRegisterA = 0x0A, kRegisterB = 0x0B,
                           kRegisterC = 0x0C, kRegisterD = 0x0D;
  static constexpr uint8_t kBSet = 0x80, kBAlarmInterrupt = 0x20, kBBinary = 0x04, kB24Hour = 0x02;
  static constexpr uint8_t kCUpdateEnded = 0x10;

  // Now gives the current civil time (the machine's GetTime).
  Cmos(std::function<void(EFI_TIME *)> Now, bool Binary);

  void WriteIndex(uint8_t Value) { Index_ = Value & 0x7F; }  // bit 7 is the NMI mask
  uint8_t Index() const { return Index_; }
  uint8_t ReadData();
  void WriteData(uint8_t Value);

  // Register access without the ports (for reports and tests); Read has the
  // side effects of a port read (register C clears).
  uint8_t Read(uint8_t Index);
  void Write(uint8_t Index, uint8_t Value);
  uint8_t Peek(uint8_t Index) const { return Ram_[Index & 0x7F]; }
  uint32_t Accesses() const { return Accesses_; }

 private:
  uint8_t Encode(unsigned Value) const;
  uint64_t SecondsNow() const;

  std::function<void(EFI_TIME *)> Now_;
  uint8_t Index_ = 0;
  uint8_t Ram_[128] = {};
  uint64_t LastTick_ = 0;  // second of the last register C read
  uint32_t Accesses_ = 0;  // data-port reads and writes
};

}  // namespace vyr::emu

#endif  // VYR_EMU_CMOS_H_
