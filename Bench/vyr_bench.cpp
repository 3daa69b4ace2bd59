// Google Benchmark cases for the parts of an update whose cost grows with the
// ROM: the image scan, the block compare and the whole update of the 16 MiB
// benchmark machine of scripts/bench.sh, run in-process.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "BaseLib.h"
#include "Image/ImageAnalysis.h"
#include "vyrfft/Launcher.h"
#include "vyrpack/Cli.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kRomSize = 16 * 1024 * 1024;
constexpr size_t kBlockSize = 64 * 1024;

const std::string kProfile = VYR_SOURCE_DIR "/Bench/bench-16mib.json";
const std::string kIni = VYR_SOURCE_DIR "/Bench/bench-platform.ini";

// An erased 16 MiB image with a BVDT near its middle, as the update sees it.
std::vector<UINT8> ErasedImage() {
  std::vector<UINT8> Image(kRomSize, 0xFF);
  const char Bvdt[] = "$BVDT";
  std::copy(Bvdt, Bvdt + 5, Image.begin() + 0x500000);
  return Image;
}

void BM_AnalyzeImage(benchmark::State &State) {
  std::vector<UINT8> Image = ErasedImage();
  for (auto _ : State) {
    AnalyzeImage(Image.data(), static_cast<UINT32>(Image.size()));
    benchmark::DoNotOptimize(mImageAnalysis.Scan.Signature[0]);
  }
  AnalyzeImage(NULL, 0);
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) * kRomSize);
}
BENCHMARK(BM_AnalyzeImage)->Unit(benchmark::kMillisecond);

// A signature the image does not hold: the scan runs to the end.
void BM_FindBytesAbsent(benchmark::State &State) {
  std::vector<UINT8> Image = ErasedImage();
  for (auto _ : State) {
    benchmark::DoNotOptimize(FindBytes(Image.data(), Image.size(), "$ROM_PACK", 9));
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) * kRomSize);
}
BENCHMARK(BM_FindBytesAbsent)->Unit(benchmark::kMillisecond);

// Every block of the ROM compared equal, as in a same-image run.
void BM_CompareBlocks(benchmark::State &State) {
  std::vector<UINT8> Current = ErasedImage();
  std::vector<UINT8> Wanted = Current;
  for (auto _ : State) {
    INTN Differing = 0;
    for (size_t At = 0; At < kRomSize; At += kBlockSize) {
      Differing += CompareMem(Current.data() + At, Wanted.data() + At, kBlockSize) != 0;
    }
    benchmark::DoNotOptimize(Differing);
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) * kRomSize);
}
BENCHMARK(BM_CompareBlocks)->Unit(benchmark::kMillisecond);

// ---- The whole update ---------------------------------------------------------------

int Vyrpack(const std::vector<std::string> &Args) {
  std::ostringstream Out;
  std::ostringstream Err;
  return vyr::pack::VyrpackMain(Args, Out, Err);
}

// The images of scripts/bench.sh, built once.
struct Images {
  fs::path Dir;
  bool Ready = false;
};

bool gImagesBuilt = false;

const Images &BenchImages() {
  static Images I = [] {
    gImagesBuilt = true;
    Images R;
    R.Dir = fs::temp_directory_path() / ("vyr-bench-" + std::to_string(getpid()));
    fs::create_directories(R.Dir);
    const std::string D = R.Dir.string();
    const std::vector<std::string> NewStamp = {"--model", "VyrPC", "--version", "V1.01"};
    auto Fd = [&](const std::string &Out, const std::string &Changes) {
      std::vector<std::string> Args = {"fd", "--profile", kProfile, "--image", D + "/old.fd", "--out", Out,
                                       "--change", Changes};
      Args.insert(Args.end(), NewStamp.begin(), NewStamp.end());
      return Vyrpack(Args);
    };
    std::string Changes;
    for (uint32_t Block : {0x01u, 0x0Au, 0x13u, 0x1Cu, 0x25u, 0x2Eu, 0x3Au, 0x68u, 0x7Fu, 0x96u, 0xB3u, 0xE2u}) {
      std::ostringstream Range;
      Range << (Changes.empty() ? "" : ",") << "0x" << std::hex << Block * kBlockSize << ":0x10000";
      Changes += Range.str();
    }
    R.Ready = Vyrpack({"fd", "--profile", kProfile, "--out", D + "/old.fd", "--model", "VyrPC", "--version",
                       "V1.00"}) == 0 &&
              Fd(D + "/5%.fd", Changes) == 0 && Fd(D + "/full.fd", "0:0x500000,0x510000:0xAF0000") == 0 &&
              Vyrpack({"stub", "--out", D + "/stub.efi"}) == 0 &&
              Vyrpack({"payload", "--image", D + "/stub.efi", "--out", D + "/VyrFFT.efi", "--bios", D + "/old.fd",
                       "--ini", kIni}) == 0;
    fs::copy_file(R.Dir / "old.fd", R.Dir / "same.fd", fs::copy_options::overwrite_existing);
    return R;
  }();
  return I;
}

void FreshMachine(const fs::path &Machine, const std::string &Image) {
  const Images &I = BenchImages();
  fs::remove_all(Machine);
  fs::create_directories(Machine / "fs0");
  fs::copy_file(I.Dir / "old.fd", Machine / "flash.bin");
  fs::copy_file(I.Dir / (Image + ".fd"), Machine / "fs0" / "new.fd");
  fs::copy_file(kIni, Machine / "fs0" / "platform.ini");
  fs::copy_file(I.Dir / "VyrFFT.efi", Machine / "fs0" / "VyrFFT.efi");
}

// Arg 0: 5 % update, 1: full write, 2: same image.
void BM_WholeUpdate(benchmark::State &State) {
  static const char *const kCases[] = {"5%", "full", "same"};
  const std::string Case = kCases[State.range(0)];
  const Images &I = BenchImages();
  if (!I.Ready) {
    State.SkipWithError("the benchmark images could not be built");
    return;
  }
  const fs::path Machine = I.Dir / ("m-" + Case);
  for (auto _ : State) {
    State.PauseTiming();
    FreshMachine(Machine, Case);
    std::ostringstream Out;
    std::ostringstream Err;
    State.ResumeTiming();
    int Code = vyr::fft::VyrfftMain(
        {"--machine", Machine.string(), "--profile", kProfile, "--no-terminal", "--", "new.fd"}, Out, Err);
    if (Code != 0) {
      State.SkipWithError(("vyrfft exit " + std::to_string(Code) + ": " + Err.str()).c_str());
      break;
    }
  }
  State.SetLabel(Case);
}
BENCHMARK(BM_WholeUpdate)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char **argv) {
  // As vyrfft's main does.
  mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code Error;
  if (gImagesBuilt) fs::remove_all(BenchImages().Dir, Error);
  return 0;
}
