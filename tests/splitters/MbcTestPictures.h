#pragma once
// Synthetic pictures for the MBC codec tests: smooth shading, soft moving shapes and a
// little grain, so that the transform coder sees content shaped like camera pictures.
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace mbctest {

// Top-down BGRA, width * 4 bytes per row. t moves the content by (2t, t) pixels.
// grain: amplitude of the per-pixel noise, which does not move with the content.
inline std::vector<uint8_t> naturalPicture(int w, int h, int t, bool withAlpha = false, uint32_t seed = 1,
                                           int grain = 3) {
    std::vector<uint8_t> p(static_cast<size_t>(w) * h * 4);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-grain, grain);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double u = x - 2.0 * t, v = y - 1.0 * t;
            double base = 120 + 50 * std::sin(u / 23.0) * std::cos(v / 31.0) + 30 * std::sin((u + v) / 47.0);
            double d1 = (u - w * 0.4) * (u - w * 0.4) + (v - h * 0.5) * (v - h * 0.5);
            double blob = 70 * std::exp(-d1 / (2 * 18.0 * 18.0));
            double ring =
                40 /
                (1 +
                 std::exp((std::sqrt((u - w * 0.7) * (u - w * 0.7) + (v - h * 0.3) * (v - h * 0.3)) - h * 0.2) * 0.6));
            int n = noise(rng);
            auto c = [](double x) { return static_cast<uint8_t>(x < 0 ? 0 : (x > 255 ? 255 : std::lround(x))); };
            uint8_t* q = &p[(static_cast<size_t>(y) * w + x) * 4];
            q[0] = c(base * 0.7 + ring * 1.5 + 20 + n);  // B
            q[1] = c(base * 0.9 + blob * 0.5 + n);       // G
            q[2] = c(base + blob - ring * 0.5 + n);      // R
            q[3] = withAlpha ? c(255 - blob * 2.5 + n) : 255;
        }
    return p;
}

inline std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    std::mt19937 rng(seed);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// Peak signal-to-noise ratio over the B, G, R bytes of two BGRA pictures.
inline double psnrBgr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double se = 0;
    size_t n = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (i % 4 == 3) continue;
        double d = double(a[i]) - double(b[i]);
        se += d * d;
        ++n;
    }
    if (se == 0) return 99.0;
    return 10 * std::log10(255.0 * 255.0 / (se / n));
}

}  // namespace mbctest
