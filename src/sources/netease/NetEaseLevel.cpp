#include "sources/netease/NetEaseLevel.h"

namespace velto {

const char* netEaseLevelName(Quality quality) {
    switch (quality) {
        case Quality::standard:
            return "standard";
        case Quality::high:
            return "exhigh";
        case Quality::lossless:
            return "lossless";
        case Quality::hiRes:
            return "hires";
        case Quality::master:
            return "jymaster";
    }
    return "standard";
}

}  // namespace velto
