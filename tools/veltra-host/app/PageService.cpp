#include "app/PageService.h"

#include "bridge/WireParts.h"

namespace veltra::host {

BridgeAnswer bridgeAnswer(const Json::Value& reply, const BridgeCall& call)
{
    // Pages that read replies in parts get their long texts unescaped; others plain JSON.
    const bool inParts = wireparts::accepts(call.accept, wireparts::MediaType);
    BridgeAnswer answer;
    answer.body = wireparts::write(reply, inParts);
    if (inParts)
        answer.contentType = std::string(wireparts::MediaType) + "; charset=utf-8";
    return answer;
}

} // namespace veltra::host
