#include "trovik/core/error.hpp"

namespace trovik::core {

std::string Error::display() const {
    const char* prefix = "";
    switch (kind_) {
        case Kind::TransportFault: prefix = "transport error: "; break;
        case Kind::Io: prefix = "io error: "; break;
        case Kind::Codec: prefix = "codec error: "; break;
        case Kind::Closed: return "resource is closed";
        case Kind::Auth: prefix = "authentication error: "; break;
        case Kind::Unsupported: prefix = "unsupported capability: "; break;
    }
    std::string out(prefix);
    out += detail_;
    return out;
}

}  // namespace trovik::core
