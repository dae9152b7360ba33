// A small, deterministic mutation driver for fuzz targets in ordinary builds.
// It feeds every seed file (or every file of a seed folder) to the target, then a
// bounded number of mutants of them, so the suite exercises the parsers with hostile
// input on every run. Long coverage-guided runs use the libFuzzer build instead.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);
// A target may supply its own seeds (for instance a valid file built in memory).
extern "C" __attribute__((weak)) void LayerdeckFuzzSeeds(std::vector<std::vector<uint8_t>>* seeds);

namespace {

using Bytes = std::vector<uint8_t>;

void addFile(const std::filesystem::path& p, std::vector<Bytes>& seeds) {
    std::ifstream in(p, std::ios::binary);
    seeds.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes mutate(const Bytes& base, std::mt19937& rng, const std::vector<Bytes>& seeds) {
    Bytes b = base;
    static const uint32_t interesting[] = {0,       1,          0x7F,       0x80,      0xFF,
                                           0x7FFF,  0x8000,     0xFFFF,     0x7FFFFFFF, 0x80000000,
                                           0xFFFFFFFF, 0x10000, 0x100};
    int steps = 1 + static_cast<int>(rng() % 6);
    for (int s = 0; s < steps; ++s) {
        switch (rng() % 8) {
        case 0:  // flip a bit
            if (!b.empty()) b[rng() % b.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
        case 1:  // random byte
            if (!b.empty()) b[rng() % b.size()] = static_cast<uint8_t>(rng());
            break;
        case 2: {  // interesting 32-bit value, little-endian
            if (b.size() >= 4) {
                uint32_t v = interesting[rng() % (sizeof interesting / sizeof *interesting)];
                size_t at = rng() % (b.size() - 3);
                std::memcpy(&b[at], &v, 4);
            }
            break;
        }
        case 3:  // truncate
            if (!b.empty()) b.resize(rng() % b.size());
            break;
        case 4: {  // insert random bytes
            size_t at = b.empty() ? 0 : rng() % (b.size() + 1);
            size_t n = 1 + rng() % 16;
            Bytes ins(n);
            for (auto& x : ins) x = static_cast<uint8_t>(rng());
            b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), ins.begin(), ins.end());
            break;
        }
        case 5: {  // erase a span
            if (!b.empty()) {
                size_t at = rng() % b.size();
                size_t n = 1 + rng() % std::min<size_t>(64, b.size() - at);
                b.erase(b.begin() + static_cast<std::ptrdiff_t>(at),
                        b.begin() + static_cast<std::ptrdiff_t>(at + n));
            }
            break;
        }
        case 6: {  // copy a span from another seed
            if (!seeds.empty() && !b.empty()) {
                const Bytes& o = seeds[rng() % seeds.size()];
                if (!o.empty()) {
                    size_t from = rng() % o.size();
                    size_t to = rng() % b.size();
                    size_t n = std::min(std::min(o.size() - from, b.size() - to), size_t(1 + rng() % 32));
                    std::memcpy(&b[to], &o[from], n);
                }
            }
            break;
        }
        default:  // duplicate a span
            if (!b.empty() && b.size() < (1u << 22)) {
                size_t at = rng() % b.size();
                size_t n = 1 + rng() % std::min<size_t>(256, b.size() - at);
                Bytes span(b.begin() + static_cast<std::ptrdiff_t>(at),
                           b.begin() + static_cast<std::ptrdiff_t>(at + n));
                b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), span.begin(), span.end());
            }
            break;
        }
    }
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    long runs = 10000;
    unsigned seed = 12345;
    std::vector<Bytes> seeds;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--runs=", 0) == 0) {
            runs = std::strtol(a.c_str() + 7, nullptr, 10);
        } else if (a.rfind("--seed=", 0) == 0) {
            seed = static_cast<unsigned>(std::strtoul(a.c_str() + 7, nullptr, 10));
        } else if (std::filesystem::is_directory(a)) {
            for (auto& e : std::filesystem::directory_iterator(a))
                if (e.is_regular_file()) addFile(e.path(), seeds);
        } else if (std::filesystem::is_regular_file(a)) {
            addFile(a, seeds);
        }
    }
    if (LayerdeckFuzzSeeds) LayerdeckFuzzSeeds(&seeds);
    if (seeds.empty()) seeds.push_back(Bytes(64, 0));

    for (const Bytes& s : seeds) LLVMFuzzerTestOneInput(s.data(), s.size());
    std::mt19937 rng(seed);
    for (long r = 0; r < runs; ++r) {
        const Bytes& base = seeds[rng() % seeds.size()];
        Bytes m = mutate(base, rng, seeds);
        LLVMFuzzerTestOneInput(m.data(), m.size());
    }
    std::printf("fuzz: %zu seeds, %ld mutated inputs, no failure\n", seeds.size(), runs);
    return 0;
}
