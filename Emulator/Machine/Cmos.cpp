#include "Machine/Cmos.h"

#include <utility>

namespace vyr::emu {

Cmos::Cmos(std::function<void(EFI_TIME *)> Now, bool Binary) : Now_(std::move(Now)) {
  Ram_[kRegisterA] = 0x26;  // 32.768 kHz time base, 1024 Hz rate, no update in progress
  Ram_[kRegisterB] = static_cast<uint8_t>(kB24Hour | (Binary ? kBBinary : 0));
  Ram_[kRegisterD] = 0x80;  // valid RAM and time
  LastTick_ = SecondsNow();
}

uint64_t Cmos::SecondsNow() const {
  EFI_TIME T = {};
  Now_(&T);
  return ((static_cast<uint64_t>(T.Year) * 13 + T.Month) * 32 + T.Day) * 86400ull + T.Hour * 3600u + T.Minute * 60u +
         T.Second;
}

uint8_t Cmos::Encode(unsigned Value) const {
  if ((Ram_[kRegisterB] & kBBinary) != 0) {
    return static_cast<uint8_t>(Value);
  }
  return static_cast<uint8_t>(((Value / 10) << 4) | (Value % 10));
}

uint8_t Cmos::Read(uint8_t Index) {
  Index &= 0x7F;
  if (Index <= kYear && Index != kSecondsAlarm && Index != kMinutesAlarm && Index != kHoursAlarm) {
    EFI_TIME T = {};
    Now_(&T);
    switch (Index) {
      case kSeconds: return Encode(T.Second);
      case kMinutes: return Encode(T.Minute);
      case kHours: return Encode(T.Hour);
      case kDayOfMonth: return Encode(T.Day);
      case kMonth: return Encode(T.Month);
      case kYear: return Encode(T.Year % 100);
      default: {
        // Day of week, 1 = Sunday (Sakamoto's method).
        static const int Offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
        int Y = T.Year - (T.Month < 3 ? 1 : 0);
        int Dow = (Y + Y / 4 - Y / 100 + Y / 400 + Offsets[(T.Month + 11) % 12] + T.Day) % 7;
        return Encode(static_cast<unsigned>(Dow + 1));
      }
    }
  }
  if (Index == kRegisterC) {
    // Flags set since the last read; reading clears them.
    uint64_t Now = SecondsNow();
    uint8_t Value = Ram_[kRegisterC];
    if (Now != LastTick_) {
      Value |= kCUpdateEnded;
    }
    LastTick_ = Now;
    Ram_[kRegisterC] = 0;
    return Value;
  }
  return Ram_[Index];
}

void Cmos::Write(uint8_t Index, uint8_t Value) {
  Index &= 0x7F;
  switch (Index) {
    case kSeconds:
    case kMinutes:
    case kHours:
    case kDayOfWeek:
    case kDayOfMonth:
    case kMonth:
    case kYear:
      return;  // the time follows the virtual clock; setting it is not modelled
    case kRegisterC:
    case kRegisterD:
      return;  // read-only
    case kRegisterA:
      Ram_[Index] = Value & 0x7F;  // UIP is read-only
      return;
    default:
      Ram_[Index] = Value;
  }
}

uint8_t Cmos::ReadData() {
  Accesses_++;
  return Read(Index_);
}

void Cmos::WriteData(uint8_t Value) {
  Accesses_++;
  Write(Index_, Value);
}

}  // namespace vyr::emu
