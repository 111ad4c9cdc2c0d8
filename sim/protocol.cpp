#include "sim/protocol.h"

#include <cctype>

namespace sim {
namespace {

struct Names {
  Protocol protocol;
  std::string_view type;
  std::string_view alias;
  int id;
};

constexpr Names kNames[] = {
    {Protocol::kVisca, "EVI_D31", "visca", 0},
    {Protocol::kPelcoD, "PELCO_D", "pelco-d", 5},
    {Protocol::kPelcoP, "PELCO_P", "pelco-p", 7},
    {Protocol::kVideotrec, "VIDEOTREC_PWT", "videotrec", 4},
    {Protocol::kCanon, "VC_C50i", "canon", 6},
    {Protocol::kTac, "TAC", "tac", 3},
};

const Names& Find(Protocol protocol) {
  for (const Names& n : kNames) {
    if (n.protocol == protocol) return n;
  }
  return kNames[0];
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string_view TypeName(Protocol protocol) { return Find(protocol).type; }
std::string_view Alias(Protocol protocol) { return Find(protocol).alias; }
int TypeId(Protocol protocol) { return Find(protocol).id; }

std::optional<Protocol> ParseProtocol(std::string_view name) {
  for (const Names& n : kNames) {
    if (EqualNoCase(name, n.type) || EqualNoCase(name, n.alias)) return n.protocol;
  }
  return std::nullopt;
}

std::string ProtocolChoices() {
  std::string text;
  for (const Names& n : kNames) {
    if (!text.empty()) text += ", ";
    text += n.type;
    text += " (";
    text += n.alias;
    text += ")";
  }
  return text;
}

}  // namespace sim
