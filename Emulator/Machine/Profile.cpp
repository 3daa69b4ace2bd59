#include "Machine/Profile.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include "Machine/Console.h"

namespace vyr::emu {

using nlohmann::json;

namespace {

// Limits of the platform answers (the 10h output and the 11h name fields).
constexpr uint32_t kPlatformStatusSize = 1024;
constexpr size_t kModelNameChars = 32;
constexpr size_t kVersionChars = 128;
// Limits of the flash object: what fits in the buffers each function fills.
constexpr uint32_t kFlashMaxSize = 0x10000000;  // 256 MiB of host memory at most
constexpr size_t kFlashMaxBlockMap = 1024;
constexpr size_t kFlashMaxProtect = 227;   // 2048 / 9
constexpr size_t kFlashMaxPrivate = 256;   // 2048 / 8
constexpr size_t kFlashMaxWhole = 315;     // 4096 / 13
constexpr size_t kFlashMaxExternal = 25;   // 256 / 10
constexpr size_t kFlashMaxLocked = 16;
constexpr size_t kFlashMaxSkip = 16;
// Limits of the checks' buffers.
constexpr size_t kOemStringList = 256;  // 19h list with its end mark
constexpr size_t kPasswordChars = 255;
constexpr size_t kMaxEcParts = 10;

std::string Hex(uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

// Reads one JSON object, remembering which keys were used so that a typo in a
// profile is reported instead of silently falling back to a default.
class ObjectReader {
 public:
  ObjectReader(const json &Object, std::string Where, const std::string &Source) : Object_(Object), Where_(std::move(Where)), Source_(Source) {
    if (!Object_.is_object()) {
      Fail("must be an object");
    }
  }

  [[noreturn]] void Fail(const std::string &Message) const { throw ProfileError(Source_ + ": " + Where_ + " " + Message); }

  const json *Get(const char *Key) {
    Known_.insert(Key);
    auto It = Object_.find(Key);
    return It == Object_.end() ? nullptr : &*It;
  }

  uint64_t Number(const json &Value, const std::string &Key, uint64_t Max) const {
    uint64_t Result = 0;
    if (Value.is_number_unsigned()) {
      Result = Value.get<uint64_t>();
    } else if (Value.is_number_integer() && Value.get<int64_t>() >= 0) {
      Result = static_cast<uint64_t>(Value.get<int64_t>());
    } else if (Value.is_string()) {
      const std::string Text = Value.get<std::string>();
      size_t Used = 0;
      try {
        Result = std::stoull(Text, &Used, 0);
      } catch (const std::exception &) {
        Used = 0;
      }
      if (Used == 0 || Used != Text.size() || Text[0] == '-') {
        FailKey(Key, "is not a number: \"" + Text + "\"");
      }
    } else {
      FailKey(Key, "must be a non-negative number or a \"0x..\" string");
    }
    if (Result > Max) {
      FailKey(Key, "is out of range (maximum " + Hex(Max) + ")");
    }
    return Result;
  }

  template <typename T>
  void Read(const char *Key, T &Out, uint64_t Max = UINT64_MAX) {
    if (const json *Value = Get(Key)) {
      Out = static_cast<T>(Number(*Value, Key, std::min<uint64_t>(Max, static_cast<uint64_t>(std::numeric_limits<T>::max()))));
    }
  }

  template <typename T>
  void ReadOptional(const char *Key, std::optional<T> &Out) {
    if (const json *Value = Get(Key)) {
      if (Value->is_null()) {
        Out.reset();
      } else {
        Out = static_cast<T>(Number(*Value, Key, static_cast<uint64_t>(std::numeric_limits<T>::max())));
      }
    }
  }

  void Read(const char *Key, bool &Out) {
    if (const json *Value = Get(Key)) {
      if (!Value->is_boolean()) {
        FailKey(Key, "must be true or false");
      }
      Out = Value->get<bool>();
    }
  }

  void Read(const char *Key, std::string &Out) {
    if (const json *Value = Get(Key)) {
      if (!Value->is_string()) {
        FailKey(Key, "must be a string");
      }
      Out = Value->get<std::string>();
    }
  }

  // Calls Each(reader of element) for each element of an array of objects.
  template <typename F>
  void ReadArray(const char *Key, F Each) {
    if (const json *Value = Get(Key)) {
      if (!Value->is_array()) {
        FailKey(Key, "must be a list");
      }
      for (size_t Index = 0; Index < Value->size(); Index++) {
        ObjectReader Element((*Value)[Index], Where_ + "." + Key + "[" + std::to_string(Index) + "]", Source_);
        Each(Element);
        Element.Finish();
      }
    }
  }

  template <typename F>
  void ReadObject(const char *Key, F Fill) {
    if (const json *Value = Get(Key)) {
      ObjectReader Child(*Value, Where_ + "." + Key, Source_);
      Fill(Child);
      Child.Finish();
    }
  }

  [[noreturn]] void FailKey(const std::string &Key, const std::string &Message) const {
    throw ProfileError(Source_ + ": " + Where_ + "." + Key + " " + Message);
  }

  void Finish() const {
    for (auto It = Object_.begin(); It != Object_.end(); ++It) {
      if (Known_.count(It.key()) == 0) {
        std::string Names;
        for (const std::string &Name : Known_) {
          Names += (Names.empty() ? "" : ", ") + Name;
        }
        throw ProfileError(Source_ + ": unknown key \"" + It.key() + "\" in " + Where_ + " (known keys: " + Names + ")");
      }
    }
  }

 private:
  const json &Object_;
  std::string Where_;
  const std::string &Source_;
  std::set<std::string> Known_;
};

VolumeKind ParseVolumeKind(const std::string &Text, const ObjectReader &Reader) {
  static const VolumeKind Kinds[] = {VolumeKind::Usb, VolumeKind::Sata, VolumeKind::Nvme, VolumeKind::Emmc, VolumeKind::Atapi};
  for (VolumeKind Kind : Kinds) {
    if (Text == VolumeKindName(Kind)) {
      return Kind;
    }
  }
  Reader.FailKey("kind", "must be one of usb, sata, nvme, emmc, atapi (got \"" + Text + "\")");
}

void ReadAllocFault(ObjectReader &Reader, AllocFaultConfig &Fault, const char *SizeKey, bool Pages) {
  Reader.Read("call", Fault.Call, UINT32_MAX);
  Reader.Read("count", Fault.Count, UINT32_MAX);
  Reader.ReadOptional(SizeKey, Fault.Size);
  if (Pages) {
    std::string Result = "fail";
    Reader.Read("result", Result);
    if (Result != "fail" && Result != "zero") {
      Reader.FailKey("result", "must be \"fail\" or \"zero\"");
    }
    Fault.ZeroAddress = Result == "zero";
  }
}

json AllocFaultJson(const AllocFaultConfig &Fault, const char *SizeKey, bool Pages) {
  json Out = {{"call", Fault.Call}, {"count", Fault.Count}};
  if (Fault.Size) {
    Out[SizeKey] = *Fault.Size;
  }
  if (Pages) {
    Out["result"] = Fault.ZeroAddress ? "zero" : "fail";
  }
  return Out;
}

void CheckOemId(const std::string &Id, const ObjectReader &Reader, const char *Key) {
  if (Id.size() > 6) {
    Reader.FailKey(Key, "must be at most 6 characters (\"" + Id + "\")");
  }
}

void ReadChecks(ObjectReader &O, ChecksConfig &C) {
  if (const json *Strings = O.Get("oemStrings")) {
    if (!Strings->is_array()) {
      O.FailKey("oemStrings", "must be a list of strings");
    }
    C.OemStrings.clear();
    size_t Used = 1;  // the end mark
    for (const json &Entry : *Strings) {
      if (!Entry.is_string()) {
        O.FailKey("oemStrings", "must be a list of strings");
      }
      const std::string Text = Entry.get<std::string>();
      if (Text.find('\0') != std::string::npos) {
        O.FailKey("oemStrings", "entries must not contain NUL");
      }
      Used += Text.size() + 1;
      C.OemStrings.push_back(Text);
    }
    if (Used > kOemStringList) {
      O.FailKey("oemStrings", "do not fit the 256-byte list (each string, its NUL and the end mark)");
    }
  }
  O.Read("notifyStatus", C.NotifyStatus);
  O.Read("skipModelCheckStatus", C.SkipModelCheckStatus);
  O.Read("iniStatus", C.IniStatus);
  O.ReadObject("conditionalData", [&](ObjectReader &D) {
    D.Read("supported", C.ConditionalDataSupported);
    D.Read("result", C.ConditionalDataResult);
  });
  O.ReadObject("factoryCopyRestore", [&](ObjectReader &R) {
    R.Read("status", C.RestoreStatus);
    R.Read("word", C.RestoreWord);
  });
  O.Read("password", C.Password);
  if (C.Password.size() > kPasswordChars || C.Password.find('\0') != std::string::npos) {
    O.FailKey("password", "must be at most 255 bytes without NUL");
  }
  O.ReadObject("commonFlash", [&](ObjectReader &F) {
    F.Read("supported", C.CommonFlash.Supported);
    F.Read("permit", C.CommonFlash.Permit);
    F.Read("message", C.CommonFlash.Message);
    F.Read("action", C.CommonFlash.Action);
  });
  O.ReadObject("secureCapsule", [&](ObjectReader &S) {
    S.Read("supported", C.SecureCapsule.Supported);
    S.Read("esp", C.SecureCapsule.Esp);
    S.Read("status", C.SecureCapsule.Status);
    S.Read("action", C.SecureCapsule.Action);
    S.Read("failAfterBlocks", C.SecureCapsule.FailAfterBlocks);
    S.Read("powerCutBeforeReset", C.SecureCapsule.PowerCutBeforeReset);
  });
  O.Read("oemSecure", C.OemSecure);
  O.Read("pfat", C.Pfat);
  std::string Key;
  O.Read("signingKey", Key);
  if (!Key.empty()) {
    C.SigningKey = ParseHexBytes(Key, "checks.signingKey");
    if (C.SigningKey.size() != 256 || (C.SigningKey[0] & 0x80) == 0 || (C.SigningKey[255] & 1) == 0) {
      O.FailKey("signingKey", "must be the 256 bytes of an RSA-2048 modulus, most significant first");
    }
  }
  O.ReadObject("rbu", [&](ObjectReader &R) {
    R.Read("status", C.Rbu.Status);
    R.Read("fallback", C.Rbu.Fallback);
    R.Read("action", C.Rbu.Action);
    R.Read("failAfterBlocks", C.Rbu.FailAfterBlocks);
  });
  O.Read("pfatPacketLimit", C.PfatPacketLimit);
  O.Read("pfatFailAtPacket", C.PfatFailAtPacket);
  O.Read("extraDataLimit", C.ExtraDataLimit);
  if (const json *Sizes = O.Get("ecPartSizes")) {
    if (!Sizes->is_array()) {
      O.FailKey("ecPartSizes", "must be a list of sizes");
    }
    C.EcPartSizes.clear();
    for (const json &Entry : *Sizes) {
      const uint32_t Size = static_cast<uint32_t>(O.Number(Entry, "ecPartSizes", UINT32_MAX));
      if (Size == 0) {
        O.FailKey("ecPartSizes", "entries must not be 0");
      }
      C.EcPartSizes.push_back(Size);
    }
    if (C.EcPartSizes.size() > kMaxEcParts) {
      O.FailKey("ecPartSizes", "has more than 10 parts (what the 21h record holds)");
    }
  }
}

json ChecksJson(const ChecksConfig &C) {
  json Sizes = json::array();
  for (uint32_t Size : C.EcPartSizes) Sizes.push_back(Hex(Size));
  return {{"oemStrings", C.OemStrings},
          {"notifyStatus", Hex(C.NotifyStatus)},
          {"skipModelCheckStatus", Hex(C.SkipModelCheckStatus)},
          {"iniStatus", Hex(C.IniStatus)},
          {"conditionalData", {{"supported", C.ConditionalDataSupported}, {"result", C.ConditionalDataResult}}},
          {"factoryCopyRestore", {{"status", Hex(C.RestoreStatus)}, {"word", Hex(C.RestoreWord)}}},
          {"password", C.Password},
          {"commonFlash",
           {{"supported", C.CommonFlash.Supported},
            {"permit", C.CommonFlash.Permit},
            {"message", Hex(C.CommonFlash.Message)},
            {"action", C.CommonFlash.Action}}},
          {"secureCapsule",
           {{"supported", C.SecureCapsule.Supported},
            {"esp", C.SecureCapsule.Esp},
            {"status", Hex(C.SecureCapsule.Status)},
            {"action", C.SecureCapsule.Action},
            {"failAfterBlocks", C.SecureCapsule.FailAfterBlocks},
            {"powerCutBeforeReset", C.SecureCapsule.PowerCutBeforeReset}}},
          {"oemSecure", C.OemSecure},
          {"pfat", C.Pfat},
          {"signingKey", HexBytes(C.SigningKey)},
          {"rbu",
           {{"status", Hex(C.Rbu.Status)},
            {"fallback", C.Rbu.Fallback},
            {"action", C.Rbu.Action},
            {"failAfterBlocks", C.Rbu.FailAfterBlocks}}},
          {"pfatPacketLimit", Hex(C.PfatPacketLimit)},
          {"pfatFailAtPacket", C.PfatFailAtPacket},
          {"extraDataLimit", Hex(C.ExtraDataLimit)},
          {"ecPartSizes", Sizes}};
}

}  // namespace

const char *VolumeKindName(VolumeKind Kind) {
  switch (Kind) {
    case VolumeKind::Usb: return "usb";
    case VolumeKind::Sata: return "sata";
    case VolumeKind::Nvme: return "nvme";
    case VolumeKind::Emmc: return "emmc";
    case VolumeKind::Atapi: return "atapi";
  }
  return "usb";
}

std::string HexBytes(const std::vector<uint8_t> &Bytes) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string Out;
  Out.reserve(Bytes.size() * 2);
  for (uint8_t Byte : Bytes) {
    Out += Digits[Byte >> 4];
    Out += Digits[Byte & 15];
  }
  return Out;
}

std::vector<uint8_t> ParseHexBytes(const std::string &Text, const std::string &What) {
  std::vector<uint8_t> Out;
  int High = -1;
  for (char C : Text) {
    int Digit;
    if (C >= '0' && C <= '9') {
      Digit = C - '0';
    } else if (C >= 'a' && C <= 'f') {
      Digit = C - 'a' + 10;
    } else if (C >= 'A' && C <= 'F') {
      Digit = C - 'A' + 10;
    } else if (C == ' ') {
      continue;
    } else {
      throw ProfileError(What + ": not a hex digit: '" + std::string(1, C) + "'");
    }
    if (High < 0) {
      High = Digit;
    } else {
      Out.push_back(static_cast<uint8_t>(High * 16 + Digit));
      High = -1;
    }
  }
  if (High >= 0) {
    throw ProfileError(What + ": odd number of hex digits");
  }
  return Out;
}

int64_t ParseClock(const std::string &Text, const std::string &What) {
  int Y, Mo, D, H, Mi, S;
  char Tail;
  if (std::sscanf(Text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &Y, &Mo, &D, &H, &Mi, &S, &Tail) != 6 || Y < 1970 ||
      Y > 9999 || Mo < 1 || Mo > 12 || D < 1 || D > 31 || H > 23 || Mi > 59 || S > 59 || H < 0 || Mi < 0 || S < 0) {
    throw ProfileError(What + ": \"" + Text + "\" is not a time of the form YYYY-MM-DD HH:MM:SS");
  }
  // Days from civil date (proleptic Gregorian).
  const int64_t Yr = Y - (Mo <= 2);
  const int64_t Era = Yr / 400;
  const int64_t Yoe = Yr - Era * 400;
  const int64_t Doy = (153 * (Mo + (Mo > 2 ? -3 : 9)) + 2) / 5 + D - 1;
  const int64_t Doe = Yoe * 365 + Yoe / 4 - Yoe / 100 + Doy;
  const int64_t Days = Era * 146097 + Doe - 719468;
  return Days * 86400 + H * 3600 + Mi * 60 + S;
}

uint8_t FlashConfig::ResolvedSizeIndex() const {
  if (SizeIndex) {
    return *SizeIndex;
  }
  for (uint8_t Index = 1; Index <= 11; Index++) {
    if (Size == (0x20000u << (Index - 1))) {
      return Index;
    }
  }
  return 0xFF;
}

uint32_t FlashConfig::ResolvedSizeSpecified() const {
  if (SizeSpecified) {
    return *SizeSpecified;
  }
  return ResolvedSizeIndex() == 0xFF ? Size : 0;
}

std::vector<FlashBlocksConfig> FlashConfig::ResolvedBlockMap() const {
  if (!BlockMap.empty()) {
    return BlockMap;
  }
  return {FlashBlocksConfig{0x10000, Size / 0x10000}};
}

// An 8 MiB part with a descriptor, a 2 MiB ME region and a 6 MiB BIOS region
// whose top holds the boot block; variables, FTW, OEM data, a private area and
// the factory copy sit at the bottom of the BIOS region.
static FlashConfig DefaultFlash() {
  FlashConfig F;
  F.ProtectMap = {
      {0x06, 0xFFA00000, 0x30000, 0}, {0x07, 0xFFA30000, 0x10000, 0}, {0x08, 0xFFA40000, 0x10000, 0},
      {0x0A, 0xFFA50000, 0x10000, 0}, {0x00, 0xFFFC0000, 0x40000, 0},
  };
  F.PrivateMap = {{0xFFA60000, 0x10000}};
  F.WholeMap = {
      {0x06, 0xFFA00000, 0x30000, 1}, {0x07, 0xFFA30000, 0x10000, 1}, {0x08, 0xFFA40000, 0x10000, 1},
      {0x0A, 0xFFA50000, 0x10000, 1}, {0xFE, 0xFFA60000, 0x10000, 1}, {0x16, 0xFFA70000, 0x10000, 1},
      {0x03, 0xFFA80000, 0x540000, 0}, {0x00, 0xFFFC0000, 0x40000, 0},
  };
  F.ExternalRegions = {
      {0x00, 0x000000, 0x1000, 0x0B}, {0x02, 0x001000, 0x1FF000, 0x0D}, {0x01, 0x200000, 0x600000, 0x0F},
  };
  return F;
}

Profile Profile::Default() {
  Profile P;
  P.Flash = DefaultFlash();
  P.Volumes.push_back(VolumeConfig{"fs0", VolumeKind::Usb, "fs0", false});
  return P;
}

Profile Profile::FromJson(const json &Json, const std::string &Source) {
  Profile P = Default();
  ObjectReader Root(Json, "profile", Source);
  Root.Read("name", P.Name);
  Root.ReadObject("memory", [&](ObjectReader &M) {
    M.ReadArray("patches", [&](ObjectReader &E) {
      MemoryPatchConfig Patch;
      E.Read("address", Patch.Address, UINT32_MAX);
      std::string Bytes;
      E.Read("bytes", Bytes);
      Patch.Bytes = ParseHexBytes(Bytes, Source + ": memory.patches bytes");
      P.MemoryPatches.push_back(Patch);
    });
  });
  Root.ReadObject("acpi", [&](ObjectReader &A) {
    AcpiConfig &Acpi = P.Acpi;
    if (const json *Rsdp = A.Get("rsdp")) {
      if (!Rsdp->is_array()) {
        A.FailKey("rsdp", "must be a list of \"1.0\" and/or \"2.0\"");
      }
      Acpi.Rsdp10 = Acpi.Rsdp20 = false;
      for (const json &Entry : *Rsdp) {
        if (Entry == "1.0") {
          Acpi.Rsdp10 = true;
        } else if (Entry == "2.0") {
          Acpi.Rsdp20 = true;
        } else {
          A.FailKey("rsdp", "entries must be \"1.0\" or \"2.0\" (got " + Entry.dump() + ")");
        }
      }
    }
    A.Read("rsdt", Acpi.Rsdt);
    A.Read("facp", Acpi.Facp);
    A.Read("dsdt", Acpi.Dsdt);
    A.Read("smiCmd", Acpi.SmiCmd);
    A.Read("dsdtOemId", Acpi.DsdtOemId);
    CheckOemId(Acpi.DsdtOemId, A, "dsdtOemId");
    A.ReadObject("fwsm", [&](ObjectReader &F) {
      F.Read("present", Acpi.Fwsm);
      F.Read("address", Acpi.FwsmAddress);
      F.Read("size", Acpi.FwsmSize);
    });
    A.ReadArray("extraTables", [&](ObjectReader &T) {
      AcpiTableConfig Table;
      T.Read("signature", Table.Signature);
      if (Table.Signature.size() != 4) {
        T.FailKey("signature", "must be 4 characters");
      }
      T.Read("oemId", Table.OemId);
      CheckOemId(Table.OemId, T, "oemId");
      std::string Data;
      T.Read("data", Data);
      Table.Data = ParseHexBytes(Data, Source + ": acpi.extraTables data");
      T.Read("beforeFacp", Table.BeforeFacp);
      Acpi.ExtraTables.push_back(Table);
    });
  });
  Root.ReadObject("fsegment", [&](ObjectReader &F) {
    F.ReadOptional("signatureAddress", P.Fsegment.SignatureAddress);
    F.ReadOptional("mainFunction", P.Fsegment.MainFunction);
    if (P.Fsegment.SignatureAddress &&
        (*P.Fsegment.SignatureAddress < 0xE0000 || *P.Fsegment.SignatureAddress > 0xFFFFF - 6)) {
      F.FailKey("signatureAddress", "must leave \"$FWSMI\" and its byte inside 0xE0000-0xFFFFF");
    }
  });
  Root.ReadObject("bios", [&](ObjectReader &B) {
    B.Read("mainFunction", P.BiosMainFunction);
    B.ReadArray("faults", [&](ObjectReader &F) {
      BiosFaultConfig Fault;
      if (!F.Get("function") || !F.Get("status")) {
        F.Fail("needs \"function\" and \"status\"");
      }
      F.Read("function", Fault.Function);
      F.Read("status", Fault.Status);
      F.Read("call", Fault.Call);
      F.Read("count", Fault.Count);
      F.ReadOptional("ah", Fault.Ah);
      F.ReadOptional("ecx", Fault.Ecx);
      F.ReadOptional("edx", Fault.Edx);
      F.ReadOptional("esi", Fault.Esi);
      F.ReadOptional("edi", Fault.Edi);
      P.BiosFaults.push_back(Fault);
    });
    B.Read("powerCutAfterWrites", P.PowerCutAfterWrites);
    B.Read("corruptReadBacks", P.CorruptReadBacks);
  });
  Root.ReadObject("checks", [&](ObjectReader &O) { ReadChecks(O, P.Checks); });
  Root.ReadObject("platform", [&](ObjectReader &O) {
    PlatformConfig &Pf = P.Platform;
    O.Read("permission", Pf.Permission);
    O.Read("interfaceVersion", Pf.InterfaceVersion);
    O.Read("acPlug", Pf.AcPlug);
    O.Read("dcLife", Pf.DcLife);
    O.Read("dcBound", Pf.DcBound);
    O.Read("help1", Pf.Help1);
    O.Read("help2", Pf.Help2);
    O.Read("vendorId", Pf.VendorId);
    O.ReadObject("biosCheck", [&](ObjectReader &B) {
      B.Read("present", Pf.BiosCheck.Present);
      B.Read("offset", Pf.BiosCheck.Offset, kPlatformStatusSize - 8);
      B.Read("size", Pf.BiosCheck.Size);
      B.Read("checkBvdt", Pf.BiosCheck.CheckBvdt);
    });
    O.ReadObject("commandFilter", [&](ObjectReader &C) {
      C.Read("present", Pf.CommandFilter.Present);
      C.Read("offset", Pf.CommandFilter.Offset, kPlatformStatusSize - 8);
      C.Read("size", Pf.CommandFilter.Size);
      std::string Bitmap;
      C.Read("bitmap", Bitmap);
      Pf.CommandFilter.Bitmap = ParseHexBytes(Bitmap, Source + ": platform.commandFilter bitmap");
      if (Pf.CommandFilter.Bitmap.size() > kPlatformStatusSize) {
        C.FailKey("bitmap", "is longer than the 1024-byte platform status");
      }
    });
    O.Read("modelName", Pf.ModelName);
    if (Utf8ToUtf16(Pf.ModelName).size() > kModelNameChars) {
      O.FailKey("modelName", "must be at most " + std::to_string(kModelNameChars) + " UTF-16 characters");
    }
    O.Read("version", Pf.Version);
    if (Utf8ToUtf16(Pf.Version).size() > kVersionChars) {
      O.FailKey("version", "must be at most " + std::to_string(kVersionChars) + " UTF-16 characters");
    }
    O.Read("switches", Pf.Switches);
    O.Read("extendedSwitches", Pf.ExtendedSwitches);
    O.Read("antiTheft", Pf.AntiTheft);
  });
  Root.ReadObject("flash", [&](ObjectReader &O) {
    FlashConfig &F = P.Flash;
    O.Read("size", F.Size, kFlashMaxSize);
    if (F.Size == 0) {
      O.FailKey("size", "must not be 0");
    }
    O.ReadOptional("sizeIndex", F.SizeIndex);
    O.ReadOptional("sizeSpecified", F.SizeSpecified);
    O.Read("vendor", F.Vendor);
    if (F.Vendor.size() > 31) {
      O.FailKey("vendor", "must be at most 31 bytes");
    }
    O.Read("type", F.Type);
    if (F.Type.size() > 32) {
      O.FailKey("type", "must be at most 32 bytes");
    }
    O.Read("deviceId", F.DeviceId);
    auto Limit = [&](const char *Key, size_t Count, size_t Max) {
      if (Count > Max) {
        O.FailKey(Key, "has more than " + std::to_string(Max) + " entries (what the BIOS buffer holds)");
      }
    };
    if (O.Get("blockMap")) {
      F.BlockMap.clear();
      O.ReadArray("blockMap", [&](ObjectReader &E) {
        FlashBlocksConfig Blocks;
        E.Read("size", Blocks.Size, 0xFFFF00);
        E.Read("count", Blocks.Count, 0xFFFF);
        if (Blocks.Size == 0 || Blocks.Size % 256 != 0) {
          E.FailKey("size", "must be a non-zero multiple of 256");
        }
        F.BlockMap.push_back(Blocks);
      });
      Limit("blockMap", F.BlockMap.size(), kFlashMaxBlockMap);
    }
    if (O.Get("protectMap")) {
      F.ProtectMap.clear();
      O.ReadArray("protectMap", [&](ObjectReader &E) {
        FlashRegionConfig Region;
        E.Read("type", Region.Type);
        E.Read("address", Region.Address);
        E.Read("size", Region.Size);
        F.ProtectMap.push_back(Region);
      });
      Limit("protectMap", F.ProtectMap.size(), kFlashMaxProtect);
    }
    if (O.Get("privateMap")) {
      F.PrivateMap.clear();
      O.ReadArray("privateMap", [&](ObjectReader &E) {
        FlashRangeConfig Range;
        E.Read("address", Range.Address);
        E.Read("size", Range.Size);
        F.PrivateMap.push_back(Range);
      });
      Limit("privateMap", F.PrivateMap.size(), kFlashMaxPrivate);
    }
    if (O.Get("wholeMap")) {
      F.WholeMap.clear();
      O.ReadArray("wholeMap", [&](ObjectReader &E) {
        FlashRegionConfig Region;
        E.Read("type", Region.Type);
        E.Read("address", Region.Address);
        E.Read("size", Region.Size);
        E.Read("attribute", Region.Attribute);
        F.WholeMap.push_back(Region);
      });
      Limit("wholeMap", F.WholeMap.size(), kFlashMaxWhole);
    }
    if (O.Get("externalRegions")) {
      F.ExternalRegions.clear();
      O.ReadArray("externalRegions", [&](ObjectReader &E) {
        ExternalRegionConfig Region;
        E.Read("type", Region.Type);
        E.Read("offset", Region.Offset);
        E.Read("size", Region.Size);
        E.Read("access", Region.Access);
        F.ExternalRegions.push_back(Region);
      });
      Limit("externalRegions", F.ExternalRegions.size(), kFlashMaxExternal);
    }
    O.Read("newRegionsFromImage", F.NewRegionsFromImage);
    O.Read("programClearsBitsOnly", F.ProgramClearsBitsOnly);
    if (O.Get("lockedRanges")) {
      F.LockedRanges.clear();
      O.ReadArray("lockedRanges", [&](ObjectReader &E) {
        FlashRangeConfig Range;
        E.Read("address", Range.Address);
        E.Read("size", Range.Size);
        F.LockedRanges.push_back(Range);
      });
      Limit("lockedRanges", F.LockedRanges.size(), kFlashMaxLocked);
    }
    if (O.Get("skipRanges")) {
      F.SkipRanges.clear();
      O.ReadArray("skipRanges", [&](ObjectReader &E) {
        FlashRangeConfig Range;
        E.Read("address", Range.Address);
        E.Read("size", Range.Size);
        F.SkipRanges.push_back(Range);
      });
      Limit("skipRanges", F.SkipRanges.size(), kFlashMaxSkip);
    }
    O.ReadObject("timing", [&](ObjectReader &T) {
      T.Read("busKHz", F.Timing.BusKHz);
      T.Read("readWidth", F.Timing.ReadWidth);
      T.Read("readDummyClocks", F.Timing.ReadDummyClocks);
      T.Read("cycleBytes", F.Timing.CycleBytes);
      T.Read("pageProgramUs", F.Timing.PageProgramUs);
      T.Read("sectorEraseMs", F.Timing.SectorEraseMs);
      T.Read("block32EraseMs", F.Timing.Block32EraseMs);
      T.Read("block64EraseMs", F.Timing.Block64EraseMs);
      T.Read("smiOverheadUs", F.Timing.SmiOverheadUs);
      if (F.Timing.BusKHz == 0) T.FailKey("busKHz", "must not be 0");
      if (F.Timing.ReadWidth != 1 && F.Timing.ReadWidth != 2 && F.Timing.ReadWidth != 4) {
        T.FailKey("readWidth", "must be 1, 2 or 4");
      }
      if (F.Timing.CycleBytes == 0) T.FailKey("cycleBytes", "must not be 0");
    });
    O.Read("image", F.Image);
    O.Read("fill", F.Fill);
    if (F.ResolvedBlockMap().size() > kFlashMaxBlockMap) {
      O.FailKey("blockMap", "is too long");
    }
  });
  if (Root.Get("volumes")) {
    P.Volumes.clear();
    std::set<std::string> Names;
    Root.ReadArray("volumes", [&](ObjectReader &V) {
      VolumeConfig Volume;
      std::string Kind = "usb";
      V.Read("name", Volume.Name);
      V.Read("kind", Kind);
      Volume.Kind = ParseVolumeKind(Kind, V);
      V.Read("dir", Volume.Dir);
      V.Read("readOnly", Volume.ReadOnly);
      if (Volume.Name.empty() || !Names.insert(Volume.Name).second) {
        V.FailKey("name", "must be present and unique");
      }
      if (Volume.Dir.empty()) {
        Volume.Dir = Volume.Name;
      }
      P.Volumes.push_back(Volume);
    });
  }
  Root.ReadObject("console", [&](ObjectReader &C) {
    C.Read("columns", P.ConsoleColumns, 1000);
    C.Read("rows", P.ConsoleRows, 1000);
    if (P.ConsoleColumns == 0 || P.ConsoleRows == 0) {
      C.Fail("needs at least one column and one row");
    }
  });
  Root.ReadObject("keys", [&](ObjectReader &K) {
    if (const json *Script = K.Get("script")) {
      if (!Script->is_array()) {
        K.FailKey("script", "must be a list of strings");
      }
      for (const json &Entry : *Script) {
        if (!Entry.is_string()) {
          K.FailKey("script", "must be a list of strings");
        }
        P.Keys.push_back(Entry.get<std::string>());
      }
    }
    K.Read("idlePolls", P.KeyIdlePolls);
  });
  Root.ReadObject("clock", [&](ObjectReader &C) {
    C.Read("start", P.ClockStart);
    ParseClock(P.ClockStart, Source + ": profile.clock.start");
    C.Read("timerPeriodFs", P.TimerPeriodFs);
    C.Read("tscReadStepNs", P.TscReadStepNs);
    C.Read("rtcBinary", P.RtcBinary);
  });
  Root.ReadObject("pool", [&](ObjectReader &O) {
    O.ReadArray("faults", [&](ObjectReader &F) {
      AllocFaultConfig Fault;
      ReadAllocFault(F, Fault, "size", false);
      P.PoolFaults.push_back(Fault);
    });
  });
  Root.ReadObject("pages", [&](ObjectReader &O) {
    O.ReadArray("faults", [&](ObjectReader &F) {
      AllocFaultConfig Fault;
      ReadAllocFault(F, Fault, "pages", true);
      P.PageFaults.push_back(Fault);
    });
  });
  Root.ReadArray("pci", [&](ObjectReader &E) {
    PciValueConfig Pci;
    E.Read("bus", Pci.Bus);
    E.Read("device", Pci.Device, 31);
    E.Read("function", Pci.Function, 7);
    E.Read("register", Pci.Register, 0xFFF);
    E.Read("value", Pci.Value);
    P.Pci.push_back(Pci);
  });
  Root.ReadArray("ioPorts", [&](ObjectReader &E) {
    IoPortConfig Port;
    E.Read("port", Port.Port);
    E.Read("value", Port.Value);
    P.IoPorts.push_back(Port);
  });
  Root.Finish();
  if (P.Acpi.Fwsm && uint64_t(P.Acpi.FwsmAddress) + P.Acpi.FwsmSize > 0x100000000ull) {
    throw ProfileError(Source + ": profile.acpi.fwsm reserved memory runs past 4 GiB");
  }
  return P;
}

Profile Profile::Load(const std::string &Path) {
  std::ifstream In(Path);
  if (!In) {
    throw ProfileError(Path + ": cannot open");
  }
  json Json;
  try {
    Json = json::parse(In);  // the whole file: nothing may follow the object
  } catch (const json::exception &Error) {
    throw ProfileError(Path + ": not valid JSON: " + Error.what());
  }
  return FromJson(Json, Path);
}

json Profile::ToJson() const {
  json Out;
  Out["name"] = Name;
  json Patches = json::array();
  for (const MemoryPatchConfig &Patch : MemoryPatches) {
    Patches.push_back({{"address", Hex(Patch.Address)}, {"bytes", HexBytes(Patch.Bytes)}});
  }
  Out["memory"] = {{"patches", Patches}};
  json Rsdp = json::array();
  if (Acpi.Rsdp10) Rsdp.push_back("1.0");
  if (Acpi.Rsdp20) Rsdp.push_back("2.0");
  json Extra = json::array();
  for (const AcpiTableConfig &Table : Acpi.ExtraTables) {
    Extra.push_back({{"signature", Table.Signature},
                     {"oemId", Table.OemId},
                     {"data", HexBytes(Table.Data)},
                     {"beforeFacp", Table.BeforeFacp}});
  }
  Out["acpi"] = {{"rsdp", Rsdp},
                 {"rsdt", Acpi.Rsdt},
                 {"facp", Acpi.Facp},
                 {"dsdt", Acpi.Dsdt},
                 {"smiCmd", Hex(Acpi.SmiCmd)},
                 {"dsdtOemId", Acpi.DsdtOemId},
                 {"fwsm", {{"present", Acpi.Fwsm}, {"address", Hex(Acpi.FwsmAddress)}, {"size", Hex(Acpi.FwsmSize)}}},
                 {"extraTables", Extra}};
  json Fseg = {{"signatureAddress", nullptr}, {"mainFunction", nullptr}};
  if (Fsegment.SignatureAddress) Fseg["signatureAddress"] = Hex(*Fsegment.SignatureAddress);
  if (Fsegment.MainFunction) Fseg["mainFunction"] = Hex(*Fsegment.MainFunction);
  Out["fsegment"] = Fseg;
  json Faults = json::array();
  for (const BiosFaultConfig &Fault : BiosFaults) {
    json F = {{"function", Hex(Fault.Function)}, {"status", Hex(Fault.Status)}, {"call", Fault.Call}, {"count", Fault.Count}};
    if (Fault.Ah) F["ah"] = Hex(*Fault.Ah);
    if (Fault.Ecx) F["ecx"] = Hex(*Fault.Ecx);
    if (Fault.Edx) F["edx"] = Hex(*Fault.Edx);
    if (Fault.Esi) F["esi"] = Hex(*Fault.Esi);
    if (Fault.Edi) F["edi"] = Hex(*Fault.Edi);
    Faults.push_back(F);
  }
  Out["bios"] = {{"mainFunction", Hex(BiosMainFunction)}, {"faults", Faults}, {"powerCutAfterWrites", PowerCutAfterWrites},
                 {"corruptReadBacks", CorruptReadBacks}};
  Out["checks"] = ChecksJson(Checks);
  Out["platform"] = {
      {"permission", Platform.Permission},
      {"interfaceVersion", Hex(Platform.InterfaceVersion)},
      {"acPlug", Platform.AcPlug},
      {"dcLife", Platform.DcLife},
      {"dcBound", Platform.DcBound},
      {"help1", Hex(Platform.Help1)},
      {"help2", Hex(Platform.Help2)},
      {"vendorId", Hex(Platform.VendorId)},
      {"biosCheck",
       {{"present", Platform.BiosCheck.Present},
        {"offset", Platform.BiosCheck.Offset},
        {"size", Platform.BiosCheck.Size},
        {"checkBvdt", Platform.BiosCheck.CheckBvdt}}},
      {"commandFilter",
       {{"present", Platform.CommandFilter.Present},
        {"offset", Platform.CommandFilter.Offset},
        {"size", Platform.CommandFilter.Size},
        {"bitmap", HexBytes(Platform.CommandFilter.Bitmap)}}},
      {"modelName", Platform.ModelName},
      {"version", Platform.Version},
      {"switches", Hex(Platform.Switches)},
      {"extendedSwitches", Hex(Platform.ExtendedSwitches)},
      {"antiTheft", Hex(Platform.AntiTheft)}};
  {
    const FlashConfig &F = Flash;
    json Blocks = json::array();
    for (const FlashBlocksConfig &B : F.BlockMap) Blocks.push_back({{"size", Hex(B.Size)}, {"count", Hex(B.Count)}});
    json Protect = json::array();
    for (const FlashRegionConfig &R : F.ProtectMap) {
      Protect.push_back({{"type", Hex(R.Type)}, {"address", Hex(R.Address)}, {"size", Hex(R.Size)}});
    }
    json Private = json::array();
    for (const FlashRangeConfig &R : F.PrivateMap) Private.push_back({{"address", Hex(R.Address)}, {"size", Hex(R.Size)}});
    json Whole = json::array();
    for (const FlashRegionConfig &R : F.WholeMap) {
      Whole.push_back({{"type", Hex(R.Type)}, {"address", Hex(R.Address)}, {"size", Hex(R.Size)}, {"attribute", Hex(R.Attribute)}});
    }
    json External = json::array();
    for (const ExternalRegionConfig &R : F.ExternalRegions) {
      External.push_back({{"type", Hex(R.Type)}, {"offset", Hex(R.Offset)}, {"size", Hex(R.Size)}, {"access", Hex(R.Access)}});
    }
    json Locked = json::array();
    for (const FlashRangeConfig &R : F.LockedRanges) Locked.push_back({{"address", Hex(R.Address)}, {"size", Hex(R.Size)}});
    json Skip = json::array();
    for (const FlashRangeConfig &R : F.SkipRanges) Skip.push_back({{"address", Hex(R.Address)}, {"size", Hex(R.Size)}});
    json Flash = {{"size", Hex(F.Size)},
                  {"sizeIndex", nullptr},
                  {"sizeSpecified", nullptr},
                  {"vendor", F.Vendor},
                  {"type", F.Type},
                  {"deviceId", Hex(F.DeviceId)},
                  {"blockMap", Blocks},
                  {"protectMap", Protect},
                  {"privateMap", Private},
                  {"wholeMap", Whole},
                  {"externalRegions", External},
                  {"newRegionsFromImage", F.NewRegionsFromImage},
                  {"programClearsBitsOnly", F.ProgramClearsBitsOnly},
                  {"lockedRanges", Locked},
                  {"skipRanges", Skip},
                  {"timing",
                   {{"busKHz", F.Timing.BusKHz},
                    {"readWidth", F.Timing.ReadWidth},
                    {"readDummyClocks", F.Timing.ReadDummyClocks},
                    {"cycleBytes", F.Timing.CycleBytes},
                    {"pageProgramUs", F.Timing.PageProgramUs},
                    {"sectorEraseMs", F.Timing.SectorEraseMs},
                    {"block32EraseMs", F.Timing.Block32EraseMs},
                    {"block64EraseMs", F.Timing.Block64EraseMs},
                    {"smiOverheadUs", F.Timing.SmiOverheadUs}}},
                  {"image", F.Image},
                  {"fill", Hex(F.Fill)}};
    if (F.SizeIndex) Flash["sizeIndex"] = Hex(*F.SizeIndex);
    if (F.SizeSpecified) Flash["sizeSpecified"] = Hex(*F.SizeSpecified);
    Out["flash"] = Flash;
  }
  json Vols = json::array();
  for (const VolumeConfig &Volume : Volumes) {
    Vols.push_back({{"name", Volume.Name}, {"kind", VolumeKindName(Volume.Kind)}, {"dir", Volume.Dir}, {"readOnly", Volume.ReadOnly}});
  }
  Out["volumes"] = Vols;
  Out["console"] = {{"columns", ConsoleColumns}, {"rows", ConsoleRows}};
  Out["keys"] = {{"script", Keys}, {"idlePolls", KeyIdlePolls}};
  Out["clock"] = {{"start", ClockStart}, {"timerPeriodFs", TimerPeriodFs}, {"tscReadStepNs", TscReadStepNs}, {"rtcBinary", RtcBinary}};
  json Pool = json::array();
  for (const AllocFaultConfig &Fault : PoolFaults) Pool.push_back(AllocFaultJson(Fault, "size", false));
  json Pages = json::array();
  for (const AllocFaultConfig &Fault : PageFaults) Pages.push_back(AllocFaultJson(Fault, "pages", true));
  Out["pool"] = {{"faults", Pool}};
  Out["pages"] = {{"faults", Pages}};
  json PciList = json::array();
  for (const PciValueConfig &Pci : this->Pci) {
    PciList.push_back({{"bus", Pci.Bus}, {"device", Pci.Device}, {"function", Pci.Function}, {"register", Hex(Pci.Register)}, {"value", Hex(Pci.Value)}});
  }
  Out["pci"] = PciList;
  json Ports = json::array();
  for (const IoPortConfig &Port : IoPorts) {
    Ports.push_back({{"port", Hex(Port.Port)}, {"value", Hex(Port.Value)}});
  }
  Out["ioPorts"] = Ports;
  return Out;
}

void Profile::Save(const std::string &Path) const {
  std::ofstream Out(Path);
  if (!Out) {
    throw ProfileError(Path + ": cannot write");
  }
  Out << ToJson().dump(2) << "\n";
  if (!Out) {
    throw ProfileError(Path + ": write failed");
  }
}

}  // namespace vyr::emu
