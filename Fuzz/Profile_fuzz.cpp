// profile.json as arbitrary text: the machine profile reader must refuse
// what it cannot take with a ProfileError (or the JSON parser's error), and
// whatever it accepts must come back unchanged through its own writer.
#include <cstdint>
#include <string>

#include "FuzzHarness.h"
#include "Machine/Profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  nlohmann::json Json = nlohmann::json::parse(Data, Data + Size, nullptr, false);
  if (Json.is_discarded()) return 0;
  vyr::emu::Profile P;
  try {
    P = vyr::emu::Profile::FromJson(Json, "fuzz");
  } catch (const vyr::emu::ProfileError &) {
    return 0;
  } catch (const std::invalid_argument &) {
    return 0;  // what the hex and clock readers raise
  }
  nlohmann::json Written = P.ToJson();
  vyr::emu::Profile Again = vyr::emu::Profile::FromJson(Written, "fuzz (written)");
  fuzz::Require(Again.ToJson() == Written);
  return 0;
}
