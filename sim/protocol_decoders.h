// The decoder of each protocol; reached through MakeDecoder.
#ifndef VORNE_SIM_PROTOCOL_DECODERS_H
#define VORNE_SIM_PROTOCOL_DECODERS_H

#include <memory>

#include "sim/decoder.h"

namespace sim {

std::unique_ptr<Decoder> MakeViscaDecoder();
std::unique_ptr<Decoder> MakePelcoDDecoder();
std::unique_ptr<Decoder> MakePelcoPDecoder();
std::unique_ptr<Decoder> MakeVideotrecDecoder();
std::unique_ptr<Decoder> MakeCanonDecoder();
std::unique_ptr<Decoder> MakeTacDecoder();

}  // namespace sim

#endif
