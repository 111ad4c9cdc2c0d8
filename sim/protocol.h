// The six serial protocols the simulators speak, and their names.
#ifndef VORNE_SIM_PROTOCOL_H
#define VORNE_SIM_PROTOCOL_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class Protocol {
  kVisca,      // "EVI_D31"
  kPelcoD,     // "PELCO_D"
  kPelcoP,     // "PELCO_P"
  kVideotrec,  // "VIDEOTREC_PWT"
  kCanon,      // "VC_C50i"
  kTac,        // "TAC"
};

inline constexpr Protocol kAllProtocols[] = {Protocol::kVisca,  Protocol::kPelcoD,
                                             Protocol::kPelcoP, Protocol::kVideotrec,
                                             Protocol::kCanon,  Protocol::kTac};

// The camera-type name the module's catalogue uses ("PELCO_D", ...).
std::string_view TypeName(Protocol protocol);
// A short lowercase alias ("visca", "pelco-d", "pelco-p", "videotrec", "canon", "tac").
std::string_view Alias(Protocol protocol);
// The module's camera-type number (0 EVI_D31, 3 TAC, 4 VIDEOTREC_PWT, ...).
int TypeId(Protocol protocol);

// Accepts a type name or an alias, in any letter case.
std::optional<Protocol> ParseProtocol(std::string_view name);
// "EVI_D31 (visca), PELCO_D (pelco-d), ..." for messages naming the choices.
std::string ProtocolChoices();

}  // namespace sim

#endif
