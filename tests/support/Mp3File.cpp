#include "support/Mp3File.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace velto {

double writeMp3Frames(const std::filesystem::path& path, const std::vector<int>& kbps) {
    static constexpr int table[] = {0,   32,  40,  48,  56,  64,  80, 96,
                                    112, 128, 160, 192, 224, 256, 320};
    std::string bytes;
    long long owed = 0;  // the byte fractions the frames so far fell short by, in 1/44100 bytes
    for (int rate : kbps) {
        const auto* found = std::find(std::begin(table) + 1, std::end(table), rate);
        if (found == std::end(table)) throw std::invalid_argument("no such bitrate");
        const auto index = static_cast<unsigned char>(found - std::begin(table));
        // A frame is padded by a byte whenever the fractions owed make one up, as an encoder
        // does, so that the bytes run at the bitrate.
        owed += 144LL * rate * 1000 % 44100;
        const bool padded = owed >= 44100;
        if (padded) owed -= 44100;
        const std::size_t length = 144 * std::size_t(rate) * 1000 / 44100 + (padded ? 1 : 0);
        std::string frame(length, '\0');
        // Sync, MPEG-1, Layer III, no CRC; the bitrate, 44.1 kHz, the padding; mono. Side
        // information of zeros holds no granule data: the frame decodes to silence.
        frame[0] = '\xFF';
        frame[1] = '\xFB';
        frame[2] = static_cast<char>(index << 4 | (padded ? 2 : 0));
        frame[3] = '\xC0';
        bytes += frame;
    }
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return double(kbps.size()) * 1152 / 44100;
}

}  // namespace velto
