#include "base/version.h"

char version_text[] = "2.4.6";

namespace {
const char* degree_suffix(int ptz_limit) {
    switch (ptz_limit) {
        case 0: return "_0";
        case 90: return "_90";
        case 350: return "_350";
        default: return "_150";  // 150 and every value the head does not know
    }
}
}  // namespace

std::string marked_version(const std::string& text, int ptz_limit, bool reversed) {
    std::string marked = text.substr(0, text.find('_'));
    marked += degree_suffix(ptz_limit);
    if (ptz_limit != 150) marked += "(M)";
    if (reversed) marked += "-Reverse";
    return marked;
}
