// Prints the request catalog as JSON on standard output, for the checks that compare
// the JavaScript and Python clients' tables with it (check_catalog.mjs, check_catalog.py).
#include <cstdio>
#include <string>
#include <string_view>

#include "protocol_api/request_catalog.h"

namespace {

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

int main() {
  using namespace orvexa;
  std::printf("{\"version\": %u, \"firstBurstSlot\": %u, \"burstSlotCount\": %d,\n",
              unsigned{kProtocolVersion}, unsigned{kFirstBurstSlot}, kBurstSlotCount);
  std::printf(
      " \"helloAnswers\": {\"admitted\": %u, \"wrongVersion\": %u, \"notAuthorised\": %u},\n",
      unsigned(HelloAnswer::kAdmitted), unsigned(HelloAnswer::kWrongVersion),
      unsigned(HelloAnswer::kNotAuthorised));
  std::printf(" \"requests\": [");
  const char* separator = "\n";
  for (const RequestCatalogEntry& e : kRequestCatalog) {
    std::printf(
        "%s  {\"code\": %u, \"name\": %s, \"arguments\": %s, \"reply\": %s, \"sender\": %s}",
        separator, unsigned(e.code), Quoted(e.name).c_str(), Quoted(e.arguments).c_str(),
        Quoted(e.reply).c_str(), Quoted(e.sender).c_str());
    separator = ",\n";
  }
  std::printf("\n]}\n");
  return 0;
}
