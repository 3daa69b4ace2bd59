#include "vyrfft/Options.h"

#include "Machine/Console.h"

namespace vyr::fft {

namespace {

bool StartsWith(const std::string &text, const std::string &prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

}  // namespace

bool ParseKeys(const std::string &text, std::u16string &keys, std::string &error) {
  keys.clear();
  // Typed text is UTF-8: one key for each character, not for each byte.
  std::string typed;
  auto flush = [&] {
    const bool valid = emu::DecodeUtf8(typed, &keys);
    typed.clear();
    if (!valid) error = "--keys: not valid UTF-8 text";
    return valid;
  };
  for (size_t i = 0; i < text.size(); i++) {
    char c = text[i];
    if (c != '\\') {
      typed.push_back(c);
      continue;
    }
    if (!flush()) return false;
    if (i + 1 >= text.size()) {
      error = "--keys: a lone backslash at the end";
      return false;
    }
    char next = text[++i];
    switch (next) {
      case 'r':
      case 'n':
        keys.push_back(u'\r');
        break;
      case 'e':
        keys.push_back(u'\x1B');
        break;
      case '\\':
        keys.push_back(u'\\');
        break;
      default:
        error = std::string("--keys: unknown escape \\") + next;
        return false;
    }
  }
  return flush();
}

bool ParseOptions(const std::vector<std::string> &args, Options &options, std::string &error) {
  size_t i = 0;
  auto value = [&](const std::string &name, std::string &out) {
    if (i + 1 >= args.size()) {
      error = name + " needs a value";
      return false;
    }
    out = args[++i];
    return true;
  };
  for (; i < args.size(); i++) {
    const std::string &arg = args[i];
    if (arg == "--") {
      i++;
      break;
    }
    if (!StartsWith(arg, "--")) {
      break;  // the utility's arguments begin here
    }
    std::string keys;
    if (arg == "--help") {
      options.help = true;
    } else if (arg == "--machine") {
      if (!value(arg, options.machineDir)) return false;
    } else if (arg == "--profile") {
      if (!value(arg, options.profile)) return false;
    } else if (arg == "--driver") {
      if (!value(arg, options.driver)) return false;
    } else if (arg == "--firmware") {
      options.firmware = true;
    } else if (arg == "--keys") {
      if (!value(arg, keys) || !ParseKeys(keys, options.keys, error)) return false;
    } else if (arg == "--report") {
      if (!value(arg, options.report)) return false;
    } else if (arg == "--cwd") {
      if (!value(arg, options.currentDirectory)) return false;
    } else if (arg == "--program") {
      if (!value(arg, options.program)) return false;
    } else if (arg == "--identity") {
      options.identity = true;
    } else if (arg == "--export-bios") {
      if (!value(arg, options.exportBios)) return false;
    } else if (arg == "--show-usage") {
      options.showUsage = true;
    } else if (arg == "--dump-settings") {
      if (!value(arg, options.dumpSettings)) return false;
    } else if (arg == "--terminal") {
      options.terminal = 1;
    } else if (arg == "--no-terminal") {
      options.terminal = 0;
    } else {
      error = "unknown vyrfft option " + arg + " (vyrfft --help lists them; the utility's own options start with one dash)";
      return false;
    }
  }
  options.utilityArgs.assign(args.begin() + static_cast<long>(i), args.end());
  return true;
}

std::string UsageText() {
  return R"(Usage: vyrfft [VYRFFT OPTIONS] [--] [UTILITY ARGUMENTS...]

Runs the VyrFFT driver against an emulated PC kept in a directory, as a UEFI
shell launcher would: loads the packaged driver image, looks its seven entries
up by name, registers image handle, current directory, shell-execute callback
and command line, calls ShellFlashMain (or UefiFlashMain) and then EndProgram,
and unloads the driver.

vyrfft's own options are long options; everything from the first argument that
does not start with "--" (or after "--") is handed to the utility unchanged.

  --machine DIR     machine directory (default: vyr-machine); created with the
                    default profile, or with --profile, on first use
  --profile FILE    machine profile used when the directory is created now
  --driver FILE     packaged driver image (default: VyrFFT.efi on the machine's
                    first volume)
  --firmware        call UefiFlashMain (a firmware-started run) instead of
                    ShellFlashMain
  --keys TEXT       scripted key presses, in order (\r Enter, \e Esc, \\ a
                    backslash); when they run out, Enter is assumed unless the
                    console is an interactive terminal
  --report FILE     write a JSON report: console text, SMI transcript, final
                    machine state
  --cwd PATH        directory handed to SetCurrentDirectory (default: fs0:)
  --program NAME    argument 0 handed to the utility (default: VyrFFT.efi)
  --terminal        show the console in the terminal (colours, redraws)
  --no-terminal     print the console text only when the run ends
  --identity        print the model name and version that the machine's BIOS
                    reports (from the BVDT in its flash) and stop; no driver
                    is loaded
  --export-bios FILE
                    write the set-up of the machine's emulated BIOS (what its
                    profile configured) to FILE and stop, for the emulated
                    BIOS driver that runs it inside real UEFI firmware
  --help            this text

Developer commands (the driver is loaded and set up as above, but instead of
a main entry one piece of the utility runs, and EndProgram is not called):

  --show-usage      print the banner and the usage text as -h shows them
  --dump-settings FILE
                    load the host file FILE as platform.ini and print the
                    settings dump that the log receives

Exit status: 0 the run and the completion request succeeded; 1 the main entry
returned FALSE; 3 EndProgram returned FALSE; 4 the driver could not be loaded
or an entry was not found; 5 the profile cut the power during the update; 2 a
usage error.
)";
}

}  // namespace vyr::fft
