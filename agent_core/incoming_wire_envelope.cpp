#include "agent_core/incoming_wire_envelope.h"

#include "protocol/wire_codec.h"

namespace velopad {

IncomingWireEnvelope decodeIncomingWireEnvelope(std::string_view data) {
    return WireCodec::decodeEnvelope(data);
}

}  // namespace velopad
