#include "vyrpack/Cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "Machine/Console.h"
#include "vyrpack/Bvdt.h"
#include "vyrpack/Fd.h"
#include "vyrpack/Package.h"
#include "vyrpack/Payload.h"
#include "vyrpack/SignedImages.h"
#include "vyrpack/Signing.h"

namespace vyr::pack {

namespace {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

const char kMainHelp[] =
    "usage: vyrpack COMMAND [OPTIONS]\n"
    "\n"
    "Builds the files the VyrFFT flash utility reads, and shows what a file holds.\n"
    "\n"
    "commands:\n"
    "  stub      write a minimal EFI boot-service driver image to carry payload records\n"
    "  payload   append payload records (BIOS, platform.ini, EC, ME ...) to a driver image\n"
    "  inspect   show what a file holds: payload records, a package, a multi-SKU image\n"
    "  bvdt      stamp a BIOS version data table (model, version, dates, ROM map) into an FD\n"
    "  fd        build a whole FD for an emulated machine (its flash size, a BVDT where its BIOS\n"
    "            keeps one, changed blocks on demand)\n"
    "  package   append BIOS images, platform.ini, options, a command filter and resource\n"
    "            files to an application image (a shell package)\n"
    "  multisku  join BIOS images for several machine models into one multi-SKU image\n"
    "  capsule   build a signed secure capsule (BIOS, EC, ME, device-firmware records)\n"
    "  rbu       build a signed RBU image of an FD\n"
    "  pfat      build a signed PFAT image of an FD\n"
    "  key-modulus  print a key's RSA modulus in hex, as a machine profile's checks.signingKey\n"
    "\n"
    "'vyrpack COMMAND --help' describes a command. Exit status: 0 success, 1 failure,\n"
    "2 usage error. Output files are written whole or not at all.\n";

const char kStubHelp[] =
    "usage: vyrpack stub --out FILE [--arch ia32|x64]\n"
    "\n"
    "Writes a minimal PE image of subsystem 11 (EFI boot service driver): PE32 for\n"
    "ia32 (machine 0x14C, the default), PE32+ for x64 (machine 0x8664). It has one\n"
    "'.data' section holding a marker text, FileAlignment = SectionAlignment = 0x20\n"
    "(file positions equal virtual addresses) and no code. On Linux it stands for the\n"
    "driver file: the launcher loads it so that the payload scan finds the records\n"
    "'vyrpack payload' appends to it.\n"
    "\n"
    "options:\n"
    "  --out FILE        the image to write (required)\n"
    "  --arch ia32|x64   target architecture (default ia32)\n";

std::string PayloadHelp() {
  std::string h =
      "usage: vyrpack payload --image IN --out OUT (--bios FILE | --empty-bios) --ini FILE\n"
      "                       [--ec FILE] [--ish FILE] [--pdt FILE] [--me FILE] [--oem-id FILE]\n"
      "                       [--pfat-hdr FILE] [--pfat-cer FILE] [--device-fw FILE]\n"
      "                       [--bios-cer FILE] [--bios-cr2 FILE] [--arch ia32|x64]\n"
      "\n"
      "Appends one tagged record per data file to the last section of the driver image IN\n"
      "and writes the result to OUT (IN is never changed; OUT may equal IN).\n"
      "\n"
      "options:\n"
      "  --image IN        the driver image (PE32 or PE32+). The word 'stub' starts from a\n"
      "                    fresh stub image instead (see 'vyrpack stub'); write './stub'\n"
      "                    for a file of that name\n"
      "  --arch ia32|x64   architecture of the fresh stub (only with --image stub;\n"
      "                    default ia32)\n"
      "  --out OUT         the packed image to write (required)\n"
      "  --empty-bios      pack a BIOS record of size 0 instead of --bios: the utility then\n"
      "                    updates only what the other records carry (EC, ME ...)\n";
  for (const RecordTag& t : RecordTags()) {
    std::string opt = std::string("  --") + t.option + " FILE";
    opt.resize(20, ' ');
    h += opt + t.tag + "  " + t.what;
    if (t.kind == RecordKind::Bios || t.kind == RecordKind::Ini) h += " (required)";
    h += "\n";
  }
  h +=
      "\n"
      "Record layout (little-endian): 16-byte ASCII tag without terminator; u32 24 + data\n"
      "size (not read by the utility); u32 data size; the data. Each record starts at a\n"
      "32-byte boundary of the file, in the order of the list above.\n"
      "\n"
      "Placement: the records extend the last section, after everything it already\n"
      "occupies; its SizeOfRawData (rounded up to FileAlignment) and VirtualSize grow to\n"
      "cover them, SizeOfImage grows (rounded up to SectionAlignment), CheckSum becomes 0.\n"
      "The utility scans its loaded image from base + the last section's PointerToRawData\n"
      "to base + SizeOfImage, so vyrpack refuses images whose last section has\n"
      "VirtualAddress < PointerToRawData, images with data after the last section\n"
      "(overlay, symbols), signed images, and images that already carry records. It then\n"
      "checks that the utility's scan of the loaded result finds exactly the records packed.\n"
      "\n"
      "example:\n"
      "  vyrpack payload --image stub --out Flash.efi --bios bios.fd --ini platform.ini --ec ec.bin\n";
  return h;
}

const char kInspectHelp[] =
    "usage: vyrpack inspect FILE\n"
    "\n"
    "When FILE is a PE image, prints its machine, subsystem, SizeOfImage and last section\n"
    "(name, virtual address, raw position and size), then scans it after the headers\n"
    "(any other file: from its first byte) for the twelve payload tags. One line per\n"
    "record: file offset (hex), tag, data size, CRC-32 of the data, and 'truncated' when\n"
    "the record runs past the end of the file. For a PE it also tells what the utility's\n"
    "own scan of the loaded image would find. Ends with the number of records.\n"
    "\n"
    "A package (a file holding \"$ROM_PACK\") is shown as the utility reads it instead:\n"
    "the built-in options, the command filter, each image (index, name, file offset,\n"
    "size), the INI text unscrambled, and each resource record (name, size, verify\n"
    "code). A multi-SKU image (holding \"$MULTISC\") lists its entries with offset, size\n"
    "and BVDT model name. Headers, offsets, sizes and names that point outside the file\n"
    "or are unterminated are listed as errors, and the exit status is then 1. Text\n"
    "from the file is shown with control characters escaped (ESC as ^[).\n";

const char kPackageHelp[] =
    "usage: vyrpack package --image APP --out OUT --fd FILE[=NAME] [--fd FILE[=NAME] ...]\n"
    "                       [--ini FILE] [--options TEXT] [--filter TEXT]\n"
    "                       [--resource FILE[=NAME] ...] [--arch ia32|x64]\n"
    "\n"
    "Appends a shell package to the application image APP and writes OUT: a ROM pack\n"
    "header, an extra pack header, one further ROM header per image after the first,\n"
    "an INI pack header (with --ini), then the images, the INI text (scrambled) and\n"
    "the resource records. The utility run as OUT takes its BIOS image, platform.ini,\n"
    "built-in options and command filter from them. See docs/vyrpack.md for the layout.\n"
    "\n"
    "options:\n"
    "  --image APP          the application image (PE32 or PE32+); 'stub' makes a fresh\n"
    "                       stub image (write './stub' for a file of that name)\n"
    "  --arch ia32|x64      architecture of the fresh stub (only with --image stub)\n"
    "  --out OUT            the package to write (required)\n"
    "  --fd FILE[=NAME]     a BIOS image, packed under NAME (default: the file's base\n"
    "                       name); repeat for up to 99 images, the first is the default\n"
    "  --ini FILE           platform.ini text for the package\n"
    "  --options TEXT       built-in command options, at most 48 characters\n"
    "  --filter TEXT        the options a user may give, e.g. '/b /ec /u' (at most 255\n"
    "                       characters); without it the utility accepts no user option\n"
    "  --resource FILE[=NAME]  a file the utility may extract (e.g. FwUpdLcl.efi);\n"
    "                       repeatable\n"
    "\n"
    "Names have 1 to 47 printable ASCII characters without '\\', '/' and ':' and are\n"
    "unique without regard to case. FILE[=NAME] splits at the last '=': a path that\n"
    "holds '=' needs '=NAME'. The application may not hold a package signature, and\n"
    "no name, option text or data may hide a header or look like a resource record.\n"
    "\n"
    "example:\n"
    "  vyrpack package --image stub --out PKG.efi --fd a.fd=model_a.fd --fd b.fd=model_b.fd \\\n"
    "                  --ini platform.ini --filter '/b /u'\n";

const char kMultiSkuHelp[] =
    "usage: vyrpack multisku --out OUT --image FD --image FD [--image FD ...]\n"
    "\n"
    "Joins two or more BIOS images into one multi-SKU image: \"$MULTISC\", u32 0, u32\n"
    "number of images, one entry (u32 offset from the signature, u32 size) per image,\n"
    "then the images, each at a 16-byte boundary. The utility takes the image whose\n"
    "BVDT model name equals the machine's, so each image must carry a BVDT and no two\n"
    "may have the same model name.\n";

const char kBvdtHelp[] =
    "usage: vyrpack bvdt (--image IN | --blank SIZE) --out OUT --model NAME --version TEXT\n"
    "                    [--offset OFF] [--build-date YYYY-MM-DD] [--build-time HH:MM:SS]\n"
    "                    [--prodex NAMES] [--verex VERSIONS] [--release-date YYYY-MM-DD]\n"
    "                    [--rom-map TYPE:ADDRESS:SIZE[:ACTION],...]\n"
    "\n"
    "Writes a BVDT area into a copy of the FD image IN (or into a blank image of SIZE\n"
    "bytes of 0xFF) and saves it as OUT. The area is, in this order: \"$BVDT\", the\n"
    "build date and time ('$' + three BCD bytes each; zero bytes when not given), '$' +\n"
    "the version (at most 24 bytes, NUL padded), '$' + the model name (at most 25\n"
    "bytes, NUL padded); then, when given, \"$PRODEX\" + NAMES + NUL, \"$VEREX\" +\n"
    "VERSIONS + NUL (','-separated lists, at most 32 entries are read), \"$RDATE\" +\n"
    "three BCD bytes, and \"$FWSMI\" + 10-byte ROM map entries (type, u32 address,\n"
    "u32 size, action) ended by a type-FFh entry.\n"
    "\n"
    "options:\n"
    "  --offset OFF      where the area starts (default: the image's first \"$BVDT\",\n"
    "                    else 0); numbers take 0x for hex\n"
    "  --blank SIZE      start from SIZE bytes of 0xFF instead of --image\n"
    "\n"
    "The utility takes the first occurrence of each signature, so vyrpack refuses a\n"
    "stamp that an earlier copy in the image would hide, and one that does not fit.\n";

const char kFdHelp[] =
    "usage: vyrpack fd --out OUT --model NAME --version TEXT [--profile FILE] [--image IN]\n"
    "                  [--change OFFSET:SIZE,...] [--build-date YYYY-MM-DD] [--build-time HH:MM:SS]\n"
    "                  [--release-date YYYY-MM-DD]\n"
    "\n"
    "Writes an FD image for an emulated machine: as large as the flash part of the\n"
    "machine profile FILE (the built-in default profile without --profile), starting\n"
    "from IN (which must have that size) or from the erased flash, with each change\n"
    "range filled with a text naming the model and version, and a BVDT stamped at\n"
    "the first OEM data region (type 0Ah) of the profile's whole ROM map, where the\n"
    "machine's BIOS reads its identity. Offsets count from the start of the image.\n"
    "\n"
    "example: the default machine's BIOS V1.00, then a V1.01 with two blocks changed\n"
    "  vyrpack fd --out current.fd --model VyrPC --version V1.00\n"
    "  vyrpack fd --image current.fd --out new.fd --model VyrPC --version V1.01 \\\n"
    "             --change 0x300000:0x10000,0x500000:0x10000\n";

struct ParsedArgs {
  std::map<std::string, std::vector<std::string>> values;  // option name (without --) -> values in order
  std::vector<std::string> positional;
  bool help = false;

  std::optional<std::string> Get(const std::string& name) const {
    auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second.front();
  }
  std::vector<std::string> GetAll(const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() ? std::vector<std::string>() : it->second;
  }
  bool Has(const std::string& name) const { return values.count(name) != 0; }
};

// `options` maps option names to whether they take a value. Both "--opt VALUE"
// and "--opt=VALUE" are accepted. Only the options named in `repeatable` may
// be given more than once; their values keep the order of the command line.
ParsedArgs ParseOptions(const std::string& command, const std::vector<std::string>& args,
                        const std::map<std::string, bool>& options, const std::set<std::string>& repeatable = {}) {
  ParsedArgs parsed;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      parsed.help = true;
      continue;
    }
    if (a.size() < 2 || a.compare(0, 2, "--") != 0) {
      parsed.positional.push_back(a);
      continue;
    }
    std::string name = a.substr(2);
    std::optional<std::string> value;
    const size_t eq = name.find('=');
    if (eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    auto known = options.find(name);
    if (known == options.end()) throw UsageError("unknown option --" + name + " for '" + command + "'");
    if (parsed.Has(name) && repeatable.count(name) == 0) throw UsageError("option --" + name + " given twice");
    if (known->second) {
      if (!value) {
        if (i + 1 >= args.size()) throw UsageError("option --" + name + " needs a value");
        value = args[++i];
      }
      if (value->empty()) throw UsageError("option --" + name + " needs a non-empty value");
    } else if (value) {
      throw UsageError("option --" + name + " takes no value");
    }
    parsed.values[name].push_back(value.value_or(""));
  }
  return parsed;
}

Arch ParseArch(const ParsedArgs& p) {
  const std::string arch = p.Get("arch").value_or("ia32");
  if (arch == "ia32") return Arch::Ia32;
  if (arch == "x64") return Arch::X64;
  throw UsageError("--arch must be ia32 or x64, not '" + arch + "'");
}

std::string Require(const ParsedArgs& p, const std::string& name) {
  auto v = p.Get(name);
  if (!v) throw UsageError("--" + name + " is required");
  return *v;
}

int CmdStub(const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs p = ParseOptions("stub", args, {{"out", true}, {"arch", true}});
  if (p.help) {
    out << kStubHelp;
    return kExitOk;
  }
  if (!p.positional.empty()) throw UsageError("unexpected argument '" + p.positional[0] + "'");
  const std::string path = Require(p, "out");
  const Arch arch = ParseArch(p);
  const Bytes image = BuildStubDriverImage(arch);
  WriteFileAtomically(path, image);
  out << "wrote " << path << ": " << (arch == Arch::X64 ? "X64" : "IA32") << " stub driver image, "
      << image.size() << " bytes\n";
  return kExitOk;
}

int CmdPayload(const std::vector<std::string>& args, std::ostream& out) {
  std::map<std::string, bool> options = {
      {"image", true}, {"out", true}, {"arch", true}, {"empty-bios", false}};
  for (const RecordTag& t : RecordTags()) options[t.option] = true;
  const ParsedArgs p = ParseOptions("payload", args, options);
  if (p.help) {
    out << PayloadHelp();
    return kExitOk;
  }
  if (!p.positional.empty()) throw UsageError("unexpected argument '" + p.positional[0] + "'");
  const std::string imagePath = Require(p, "image");
  const std::string outPath = Require(p, "out");
  if (p.Has("bios") == p.Has("empty-bios")) throw UsageError("give exactly one of --bios FILE and --empty-bios");
  Require(p, "ini");
  if (p.Has("arch") && imagePath != "stub") throw UsageError("--arch applies only to --image stub");
  const Arch arch = ParseArch(p);

  const Bytes image = imagePath == "stub" ? BuildStubDriverImage(arch) : ReadFileBytes(imagePath);
  std::vector<PayloadRecord> records;
  for (const RecordTag& t : RecordTags()) {
    if (auto path = p.Get(t.option)) records.push_back({t.kind, ReadFileBytes(*path)});
  }
  AppendOptions opts;
  opts.emptyBios = p.Has("empty-bios");
  const AppendResult result = AppendPayload(image, records, opts);
  WriteFileAtomically(outPath, result.image);

  out << "wrote " << outPath << ": " << result.image.size() << " bytes, " << result.placed.size()
      << " records\n";
  for (const PlacedRecord& r : result.placed) {
    out << "  " << Hex32(r.fileOffset) << "  " << TagOf(r.kind).tag << "  " << r.dataSize << " bytes\n";
  }
  return kExitOk;
}

// Text from a file, safe for a terminal: control characters as escapes.
std::string Visible(const std::string& text) { return emu::VisibleUtf8(emu::Utf8ToUtf16(text)); }

std::string Hex16(uint16_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04X", v);
  return buf;
}

// "FILE[=NAME]" -> the file's contents under NAME (default: its base name).
NamedFile ReadNamedFile(const std::string& arg) {
  std::string path = arg;
  std::string name;
  const size_t eq = arg.rfind('=');
  if (eq != std::string::npos) {
    path = arg.substr(0, eq);
    name = arg.substr(eq + 1);
    if (path.empty() || name.empty()) throw UsageError("bad FILE=NAME '" + arg + "'");
  } else {
    const size_t slash = path.rfind('/');
    name = slash == std::string::npos ? path : path.substr(slash + 1);
  }
  return {name, ReadFileBytes(path)};
}

void PrintPackageImages(const PackageView& v, std::ostream& out) {
  for (const PackageImageView& i : v.images) {
    out << "  " << i.index << "  '" << Visible(i.name) << "'  at " << Hex32(i.fileOffset) << "  size " << i.size
        << "  (header " << Hex32(i.headerOffset) << ")\n";
  }
}

int CmdPackage(const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs p = ParseOptions("package", args,
                                    {{"image", true}, {"out", true}, {"arch", true}, {"fd", true}, {"ini", true},
                                     {"options", true}, {"filter", true}, {"resource", true}},
                                    {"fd", "resource"});
  if (p.help) {
    out << kPackageHelp;
    return kExitOk;
  }
  if (!p.positional.empty()) throw UsageError("unexpected argument '" + p.positional[0] + "'");
  const std::string imagePath = Require(p, "image");
  const std::string outPath = Require(p, "out");
  Require(p, "fd");
  if (p.Has("arch") && imagePath != "stub") throw UsageError("--arch applies only to --image stub");
  const Arch arch = ParseArch(p);

  PackageInput in;
  in.application = imagePath == "stub" ? BuildStubDriverImage(arch) : ReadFileBytes(imagePath);
  for (const std::string& a : p.GetAll("fd")) in.images.push_back(ReadNamedFile(a));
  for (const std::string& a : p.GetAll("resource")) in.resources.push_back(ReadNamedFile(a));
  if (auto ini = p.Get("ini")) in.ini = ReadFileBytes(*ini);
  in.options = p.Get("options").value_or("");
  in.filter = p.Get("filter").value_or("");
  const Bytes package = BuildPackage(in);
  WriteFileAtomically(outPath, package);

  const PackageView v = ReadPackage(package);
  out << "wrote " << outPath << ": " << package.size() << " bytes, " << v.images.size()
      << (v.images.size() == 1 ? " image" : " images") << ", ROM pack header at " << Hex32(v.romPackOffset) << "\n";
  PrintPackageImages(v, out);
  if (in.ini) out << "  INI text  at " << Hex32(v.iniFileOffset) << "  size " << in.ini->size() << "\n";
  for (const PackageResourceView& r : v.resources) {
    out << "  resource '" << r.name << "'  at " << Hex32(r.recordOffset) << "  size " << r.size << "\n";
  }
  return kExitOk;
}

int CmdMultiSku(const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs p = ParseOptions("multisku", args, {{"out", true}, {"image", true}}, {"image"});
  if (p.help) {
    out << kMultiSkuHelp;
    return kExitOk;
  }
  if (!p.positional.empty()) throw UsageError("unexpected argument '" + p.positional[0] + "'");
  const std::string outPath = Require(p, "out");
  const std::vector<std::string> paths = p.GetAll("image");
  if (paths.size() < 2) throw UsageError("give at least two --image FD");
  std::vector<NamedFile> images;
  for (const std::string& path : paths) images.push_back({path, ReadFileBytes(path)});
  const Bytes result = BuildMultiSku(images);
  WriteFileAtomically(outPath, result);
  const MultiSkuView v = ReadMultiSku(result);
  out << "wrote " << outPath << ": " << result.size() << " bytes, " << v.entries.size() << " images\n";
  for (size_t i = 0; i < v.entries.size(); ++i) {
    out << "  " << i << "  at " << Hex32(v.entries[i].fileOffset) << "  size " << v.entries[i].size << "  model '"
        << Visible(*v.entries[i].model) << "'\n";
  }
  return kExitOk;
}

int PrintErrors(const std::vector<std::string>& errors, const std::string& what, std::ostream& out) {
  if (errors.empty()) return kExitOk;
  out << "errors:\n";
  for (const std::string& e : errors) out << "  " << Visible(e) << "\n";
  throw std::runtime_error(std::to_string(errors.size()) + (errors.size() == 1 ? " error" : " errors") + " in the " +
                           what);
}

int InspectPackage(const PackageView& v, std::ostream& out) {
  out << "package: ROM pack header at " << Hex32(v.romPackOffset) << "\n";
  out << "built-in options: " << (v.options.empty() ? "none" : "'" + Visible(v.options) + "'") << "\n";
  out << "command filter: "
      << (v.filter.empty() ? "none (the utility accepts no user option)" : "'" + Visible(v.filter) + "'") << "\n";
  if (v.extPackOffset) {
    out << "extra pack header at " << Hex32(*v.extPackOffset) << ": " << v.imageCount
        << (v.imageCount == 1 ? " image\n" : " images\n");
  } else {
    out << "no extra pack header: the utility takes the first image whatever the multi-FD selection\n";
  }
  out << "images:\n";
  PrintPackageImages(v, out);
  if (v.iniPackOffset) {
    out << "INI text: " << v.iniText.size() << " bytes at " << Hex32(v.iniFileOffset) << " (INI pack header at "
        << Hex32(*v.iniPackOffset) << ")\n";
    const std::string text(v.iniText.begin(), v.iniText.end());
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      out << (line.empty() ? "" : "    " + Visible(line)) << "\n";
      start = end + 1;
    }
  } else {
    out << "INI text: none\n";
  }
  out << "resources:" << (v.resources.empty() ? " none" : "") << "\n";
  for (const PackageResourceView& r : v.resources) {
    out << "  '" << Visible(r.name) << "'  at " << Hex32(r.recordOffset) << "  size " << r.size << "  verify code "
        << Hex16(r.verifyCode) << (r.verifyCode == kResourceVerifyCode ? "" : "  verify code wrong") << "\n";
  }
  return PrintErrors(v.errors, "package", out);
}

int InspectMultiSku(const MultiSkuView& v, std::ostream& out) {
  out << "multi-SKU image: \"$MULTISC\" at " << Hex32(v.offset) << ", " << v.count
      << (v.count == 1 ? " image\n" : " images\n");
  for (size_t i = 0; i < v.entries.size(); ++i) {
    const MultiSkuEntryView& e = v.entries[i];
    out << "  " << i << "  at " << Hex32(e.fileOffset) << "  size " << e.size << "  "
        << (e.model ? "model '" + Visible(*e.model) + "'" : std::string("no BVDT")) << "\n";
  }
  return PrintErrors(v.errors, "multi-SKU image", out);
}

int CmdInspect(const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs p = ParseOptions("inspect", args, {{"key", true}});
  if (p.help) {
    out << kInspectHelp;
    return kExitOk;
  }
  if (p.positional.size() != 1) throw UsageError("inspect takes exactly one FILE");
  const std::string& path = p.positional[0];
  const Bytes file = ReadFileBytes(path);
  out << path << ": " << file.size() << " bytes\n";
  if (const PackageView package = ReadPackage(file); package.isPackage) return InspectPackage(package, out);
  if (const MultiSkuView multi = ReadMultiSku(file); multi.isMultiSku) return InspectMultiSku(multi, out);
  const ScanReport report = ScanRecords(file);

  if (report.isPe) {
    const PeInfo& pe = report.pe;
    char machine[8];
    std::snprintf(machine, sizeof machine, "0x%04X", pe.machine);
    out << (pe.IsPe32Plus() ? "PE32+" : "PE32") << " image: machine " << machine << " (" << MachineName(pe.machine) << "), subsystem " << pe.subsystem << " ("
        << SubsystemName(pe.subsystem) << "), SizeOfImage " << Hex32(pe.sizeOfImage) << "\n";
    if (pe.sections.empty()) {
      out << "no sections\n";
    } else {
      const PeSection& s = pe.sections.back();
      out << "last section '" << s.name << "': VA " << Hex32(s.virtualAddress) << ", raw pos "
          << Hex32(s.pointerToRawData) << ", raw size " << Hex32(s.sizeOfRawData) << ", virtual size "
          << Hex32(s.virtualSize) << "\n";
    }
  } else if (!report.peError.empty()) {
    out << "not a valid PE image (" << report.peError << ")\n";
  } else {
    out << "not a PE image\n";
  }
  out << "records, scanned from " << Hex32(report.start) << ":\n";
  for (const FoundRecord& r : report.records) {
    out << "  " << Hex32(r.offset) << "  " << TagOf(r.kind).tag << "  size ";
    if (r.headerComplete) {
      out << r.dataSize;
    } else {
      out << "?";
    }
    if (r.truncated) {
      out << "  truncated\n";
    } else {
      char crc[16];
      std::snprintf(crc, sizeof crc, "%08X", Crc32(file.data() + r.offset + kRecordHeaderSize, r.dataSize));
      out << "  crc32 " << crc << "\n";
    }
  }
  out << report.records.size() << (report.records.size() == 1 ? " record\n" : " records\n");
  for (const std::string& line : DescribeSignedImage(file, p.Get("key"))) out << line << "\n";

  if (report.isPe) {
    try {
      const std::vector<FoundRecord> seen = DriverView(file);
      out << "the utility's scan of the loaded image finds " << seen.size()
          << (seen.size() == 1 ? " record" : " records");
      bool bios = false, ini = false;
      for (const FoundRecord& r : seen) {
        bios |= r.kind == RecordKind::Bios && !r.truncated;
        ini |= r.kind == RecordKind::Ini && !r.truncated;
      }
      if (!bios || !ini) {
        out << "; it would fail: no " << (!bios ? "BIOS" : "") << (!bios && !ini ? " and no " : "")
            << (!ini ? "INI" : "") << " record";
      }
      out << "\n";
    } catch (const std::exception& e) {
      out << "the loaded image cannot be scanned: " << e.what() << "\n";
    }
  }
  return kExitOk;
}

int CmdBvdt(const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs p = ParseOptions("bvdt", args,
                                    {{"image", true}, {"blank", true}, {"out", true}, {"offset", true},
                                     {"model", true}, {"version", true}, {"build-date", true},
                                     {"build-time", true}, {"prodex", true}, {"verex", true},
                                     {"release-date", true}, {"rom-map", true}});
  if (p.help) {
    out << kBvdtHelp;
    return kExitOk;
  }
  if (!p.positional.empty()) throw UsageError("unexpected argument '" + p.positional[0] + "'");
  if (p.Has("image") == p.Has("blank")) throw UsageError("give exactly one of --image IN and --blank SIZE");
  const std::string outPath = Require(p, "out");
  BvdtStamp stamp;
  stamp.model = Require(p, "model");
  stamp.version = Require(p, "version");
  auto number = [](const std::string& text, const std::string& what) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (*end != 0 || errno != 0 || text[0] == '-' || v > 0xFFFFFFFFull) {
      throw UsageError("bad " + what + " '" + text + "'");
    }
    return static_cast<size_t>(v);
  };
  Bytes image;
  if (auto blank = p.Get("blank")) {
    const size_t size = number(*blank, "--blank size");
    if (size == 0) throw UsageError("--blank size must not be 0");
    image.assign(size, 0xFF);
  } else {
    image = ReadFileBytes(*p.Get("image"));
  }
  try {
    if (auto v = p.Get("build-date")) stamp.buildDate = ParseBvdtDate(*v);
    if (auto v = p.Get("build-time")) stamp.buildTime = ParseBvdtTime(*v);
    if (auto v = p.Get("release-date")) stamp.releaseDate = ParseBvdtDate(*v);
    if (auto v = p.Get("rom-map")) stamp.romMap = ParseBvdtRomMap(*v);
  } catch (const std::runtime_error& e) {
    throw UsageError(e.what());
  }
  if (auto v = p.Get("prodex")) stamp.prodex = *v;
  if (auto v = p.Get("verex")) stamp.verex = *v;
  size_t offset = 0;
  if (auto v = p.Get("offset")) {
    offset = number(*v, "--offset");
  } else if (auto found = FindBvdt(image)) {
    offset = *found;
  }
  const Bytes result = StampBvdt(image, offset, stamp);
  WriteFileAtomically(outPath, result);
  out << "wrote " << outPath << ": " << result.size() << " bytes, BVDT at " << Hex32(static_cast<uint32_t>(offset))
      << ", model '" << stamp.model << "', version '" << stamp.version << "'\n";
  return kExitOk;
}

int CmdFd(const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs p = ParseOptions("fd", args,
                                    {{"out", true}, {"model", true}, {"version", true}, {"profile", true},
                                     {"image", true}, {"change", true}, {"build-date", true},
                                     {"build-time", true}, {"release-date", true}});
  if (p.help) {
    out << kFdHelp;
    return kExitOk;
  }
  if (!p.positional.empty()) throw UsageError("unexpected argument '" + p.positional[0] + "'");
  const std::string outPath = Require(p, "out");
  BvdtStamp stamp;
  stamp.model = Require(p, "model");
  stamp.version = Require(p, "version");
  std::vector<FdChange> changes;
  try {
    if (auto v = p.Get("build-date")) stamp.buildDate = ParseBvdtDate(*v);
    if (auto v = p.Get("build-time")) stamp.buildTime = ParseBvdtTime(*v);
    if (auto v = p.Get("release-date")) stamp.releaseDate = ParseBvdtDate(*v);
    if (auto v = p.Get("change")) changes = ParseFdChanges(*v);
  } catch (const std::runtime_error& e) {
    throw UsageError(e.what());
  }
  const emu::Profile profile = p.Has("profile") ? emu::Profile::Load(*p.Get("profile")) : emu::Profile::Default();
  std::optional<Bytes> base;
  if (auto v = p.Get("image")) base = ReadFileBytes(*v);
  const Bytes result = BuildProfileFd(profile, base ? &*base : nullptr, stamp, changes);
  WriteFileAtomically(outPath, result);
  out << "wrote " << outPath << ": " << result.size() << " bytes for machine profile '" << profile.Name
      << "', BVDT at " << Hex32(static_cast<uint32_t>(ProfileBvdtOffset(profile))) << ", model '" << stamp.model
      << "', version '" << stamp.version << "', " << changes.size() << " changed range(s)\n";
  return kExitOk;
}

}  // namespace

Bytes ReadFileBytes(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) throw std::runtime_error("'" + path + "' is a directory");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open '" + path + "': " + std::strerror(errno));
  Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read '" + path + "'");
  return data;
}

void WriteFileAtomically(const std::string& path, const Bytes& data) {
  std::string tmp = path + ".vyrpack-XXXXXX";
  const int fd = mkstemp(tmp.data());
  if (fd < 0) throw std::runtime_error("cannot create a temporary file beside '" + path + "': " + std::strerror(errno));
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  size_t done = 0;
  int error = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && std::rename(tmp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(tmp.c_str());
    throw std::runtime_error("cannot write '" + path + "': " + std::strerror(error));
  }
}

// ---- Signed images: capsule, rbu, pfat, key-modulus ----

namespace {

const char kSignedHelp[] =
    "usage: vyrpack capsule --key PEM (--bios FILE | --empty-bios) [--ec FILE] [--me FILE]\n"
    "                       [--device-fw FILE] [--ini FILE] [--no-driver-signature] --out FILE\n"
    "       vyrpack rbu --key PEM --fd FILE --out FILE\n"
    "       vyrpack pfat --key PEM --fd FILE [--block-size N] [--base ADDRESS] --out FILE\n"
    "       vyrpack key-modulus --key PEM\n"
    "\n"
    "Builds the images a signing BIOS accepts, signed with the RSA-2048 private key in\n"
    "PEM (PKCS#1 v1.5, SHA-256): a secure capsule whose last record signs all before\n"
    "it; an RBU image whose \"$BIS\" block carries the signature of the header and the\n"
    "raw FD (whole 512 KiB blocks); a PFAT image whose packets (per-block header, block,\n"
    "signature) go to flash address BASE + i * N (N default 0x10000, BASE default: the\n"
    "FD ends at 4 GiB). key-modulus prints the modulus for a machine profile. The\n"
    "keys under Tests/keys/ are test material only. Layouts: docs/vyrpack.md.\n";

bool IsSignedCommand(const std::string& command) {
  return command == "capsule" || command == "rbu" || command == "pfat" || command == "key-modulus";
}

int CmdSigned(const std::string& command, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs p = ParseOptions(command, args,
                                    {{"key", true}, {"out", true}, {"bios", true}, {"empty-bios", false},
                                     {"ec", true}, {"me", true}, {"device-fw", true},
                                     {"no-driver-signature", false}, {"ini", true}, {"fd", true}, {"block-size", true},
                                     {"base", true}});
  if (p.help) {
    out << kSignedHelp;
    return kExitOk;
  }
  const std::string key = Require(p, "key");
  if (command == "key-modulus") {
    const Bytes modulus = PublicModulus(key);
    static const char digits[] = "0123456789ABCDEF";
    for (uint8_t b : modulus) out << digits[b >> 4] << digits[b & 15];
    out << "\n";
    return kExitOk;
  }
  const std::string outPath = Require(p, "out");
  const auto number = [&](const std::string& name, uint64_t fallback) -> uint64_t {
    const auto v = p.Get(name);
    if (!v) return fallback;
    size_t used = 0;
    uint64_t value = 0;
    try {
      value = std::stoull(*v, &used, 0);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used != v->size() || value > UINT32_MAX) throw UsageError("--" + name + " must be a 32-bit number");
    return value;
  };
  Bytes image;
  if (command == "capsule") {
    CapsuleParts parts;
    if (p.Has("bios") == p.Has("empty-bios")) throw UsageError("give either --bios or --empty-bios");
    if (p.Has("bios")) parts.bios = ReadFileBytes(*p.Get("bios"));
    if (p.Has("ec")) parts.ec = ReadFileBytes(*p.Get("ec"));
    if (p.Has("me")) parts.me = ReadFileBytes(*p.Get("me"));
    if (p.Has("device-fw")) parts.deviceFirmware = ReadFileBytes(*p.Get("device-fw"));
    if (p.Has("ini")) parts.ini = ReadFileBytes(*p.Get("ini"));
    parts.driverSignature = !p.Has("no-driver-signature");
    image = BuildSecureCapsule(parts, key);
  } else {
    const Bytes fd = ReadFileBytes(Require(p, "fd"));
    if (command == "rbu") {
      image = BuildRbuImage(fd, key);
    } else {
      const std::optional<uint32_t> base =
          p.Has("base") ? std::optional<uint32_t>(uint32_t(number("base", 0))) : std::nullopt;
      image = BuildPfatImage(fd, key, uint32_t(number("block-size", 0x10000)), base);
    }
  }
  WriteFileAtomically(outPath, image);
  out << outPath << ": " << command << " image, " << image.size() << " bytes\n";
  return kExitOk;
}

}  // namespace

int VyrpackMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << kMainHelp;
    return kExitUsage;
  }
  const std::string& command = args[0];
  try {
    if (command == "--help" || command == "-h" || command == "help") {
      out << kMainHelp;
      return kExitOk;
    }
    if (command == "stub") return CmdStub(args, out);
    if (command == "payload") return CmdPayload(args, out);
    if (command == "inspect") return CmdInspect(args, out);
    if (command == "bvdt") return CmdBvdt(args, out);
    if (command == "fd") return CmdFd(args, out);
    if (command == "package") return CmdPackage(args, out);
    if (command == "multisku") return CmdMultiSku(args, out);
    if (IsSignedCommand(command)) return CmdSigned(command, args, out);
    throw UsageError("unknown command '" + command + "'");
  } catch (const UsageError& e) {
    err << "vyrpack: " << e.what() << "\n";
    err << (command == "stub" || command == "payload" || command == "inspect" || command == "bvdt" || command == "fd" ||
                    command == "package" || command == "multisku" || IsSignedCommand(command)
                ? "try 'vyrpack " + command + " --help'\n"
                : std::string("try 'vyrpack --help'\n"));
    return kExitUsage;
  } catch (const std::exception& e) {
    err << "vyrpack: " << command << ": " << e.what() << "\n";
    return kExitFailure;
  }
}

}  // namespace vyr::pack
