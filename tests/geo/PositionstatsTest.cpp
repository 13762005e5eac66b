// The accuracy figures against a second computation written plainly here: long double,
// straightforward loops, the textbook fixed-point iteration for latitude and height.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <vector>

#include "geo/Positionstats.h"

namespace {

using Real = long double;
constexpr Real kA = 6378137.0L;
constexpr Real kF = 1.0L / 298.257223563L;
constexpr Real kE2 = kF * (2 - kF);
constexpr Real kPi = 3.141592653589793238462643383279502884L;
constexpr double kMillimetre = 1e-3;

struct Vec {
    Real x, y, z;
};

Vec EcefOf(const Geodetic& g) {
    const Real lat = g.latitudeDeg * kPi / 180, lon = g.longitudeDeg * kPi / 180;
    const Real n = kA / std::sqrt(1 - kE2 * std::sin(lat) * std::sin(lat));
    return {(n + g.heightM) * std::cos(lat) * std::cos(lon), (n + g.heightM) * std::cos(lat) * std::sin(lon),
            (n * (1 - kE2) + g.heightM) * std::sin(lat)};
}

Geodetic GeodeticOf(const Vec& v) {
    const Real p = std::sqrt(v.x * v.x + v.y * v.y);
    Real lat = std::atan2(v.z, p * (1 - kE2));
    Real h = 0;
    for (int i = 0; i < 8; ++i) {
        const Real n = kA / std::sqrt(1 - kE2 * std::sin(lat) * std::sin(lat));
        h = std::fabs(lat) < kPi / 4 ? p / std::cos(lat) - n : v.z / std::sin(lat) - n * (1 - kE2);
        lat = std::atan2(v.z, p * (1 - kE2 * n / (n + h)));
    }
    return {static_cast<double>(lat * 180 / kPi), static_cast<double>(std::atan2(v.y, v.x) * 180 / kPi),
            static_cast<double>(h)};
}

// East, north and up unit vectors at a point.
struct Frame {
    Vec e, n, u;
};
Frame FrameAt(const Geodetic& g) {
    const Real lat = g.latitudeDeg * kPi / 180, lon = g.longitudeDeg * kPi / 180;
    return {{-std::sin(lon), std::cos(lon), 0},
            {-std::sin(lat) * std::cos(lon), -std::sin(lat) * std::sin(lon), std::cos(lat)},
            {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)}};
}
Real Along(const Vec& axis, const Vec& a, const Vec& b) {
    return axis.x * (a.x - b.x) + axis.y * (a.y - b.y) + axis.z * (a.z - b.z);
}

Real PopulationSigma(const std::vector<Real>& values) {
    Real mean = 0, sum = 0;
    for (Real v : values) {
        mean += v / values.size();
    }
    for (Real v : values) {
        sum += (v - mean) * (v - mean);
    }
    return std::sqrt(sum / values.size());
}

struct Fix {
    Geodetic position;
    int quality;
};

struct Expected {
    AccuracyFigures figures;
    std::vector<EastNorth> scatter;
};

Expected Compute(const std::vector<Fix>& all, FixFilter filter, const std::optional<Geodetic>& reference) {
    std::vector<Vec> points;
    for (const Fix& f : all) {
        if (filter == FixFilter::kAll || f.quality == 2 || f.quality == 4 || f.quality == 5) {
            points.push_back(EcefOf(f.position));
        }
    }
    Vec sum{0, 0, 0};
    for (const Vec& p : points) {
        sum = {sum.x + p.x, sum.y + p.y, sum.z + p.z};
    }
    const Real count = points.size();
    const Vec mean{sum.x / count, sum.y / count, sum.z / count};
    Expected out;
    out.figures.fixes = points.size();
    out.figures.mean = GeodeticOf(mean);
    const Vec centre = reference ? EcefOf(*reference) : mean;
    const Frame frame = FrameAt(reference ? *reference : out.figures.mean);
    std::vector<Real> east, north, up, horizontal;
    Real squares = 0;
    for (const Vec& p : points) {
        east.push_back(Along(frame.e, p, centre));
        north.push_back(Along(frame.n, p, centre));
        up.push_back(Along(frame.u, p, centre));
        squares += east.back() * east.back() + north.back() * north.back();
        horizontal.push_back(std::sqrt(east.back() * east.back() + north.back() * north.back()));
        out.scatter.push_back({static_cast<double>(east.back()), static_cast<double>(north.back())});
    }
    std::sort(horizontal.begin(), horizontal.end());
    const Real se = PopulationSigma(east), sn = PopulationSigma(north);
    out.figures.sigmaEastM = se;
    out.figures.sigmaNorthM = sn;
    out.figures.sigmaUpM = PopulationSigma(up);
    out.figures.cep50M = horizontal[static_cast<size_t>(std::ceil(50 * count / 100)) - 1];
    out.figures.cep95M = horizontal[static_cast<size_t>(std::ceil(95 * count / 100)) - 1];
    out.figures.twiceDrmsM = reference ? 2 * std::sqrt(squares / count) : 2 * std::sqrt(se * se + sn * sn);
    return out;
}

struct Spread {
    double east, north, up;  // standard deviations, metres
};

struct Case {
    const char* legend = "";
    Geodetic truth;
    size_t count = 0;
    Spread sigma{};
    double wanderM = 0;        // a slow swing east and north over the run
    double autonomousOff = 0;  // every third fix is autonomous (quality 1) and this far east; 0: none
    std::optional<Geodetic> reference;
    FixFilter filter = FixFilter::kAll;
};

std::vector<Fix> MakeFixes(const Case& c) {
    std::mt19937 random(2718);
    std::normal_distribution<double> unit(0.0, 1.0);
    const Vec truth = EcefOf(c.truth);
    const Frame frame = FrameAt(c.truth);
    std::vector<Fix> fixes;
    for (size_t i = 0; i < c.count; ++i) {
        const bool autonomous = c.autonomousOff != 0 && i % 3 == 0;
        const Real swing = c.wanderM * std::sin(2 * kPi * i / c.count);
        const Real e = c.sigma.east * unit(random) + swing + (autonomous ? c.autonomousOff : 0);
        const Real n = c.sigma.north * unit(random) - swing;
        const Real u = c.sigma.up * unit(random);
        const Vec p{truth.x + e * frame.e.x + n * frame.n.x + u * frame.u.x,
                    truth.y + e * frame.e.y + n * frame.n.y + u * frame.u.y,
                    truth.z + e * frame.e.z + n * frame.n.z + u * frame.u.z};
        fixes.push_back({GeodeticOf(p), autonomous ? 1 : (i % 2 == 0 ? 2 : 4)});
    }
    return fixes;
}

TEST(PositionStats, FiguresMatchAPlainComputationToAMillimetre) {
    const Geodetic munich{48.1173, 11.5167, 566.2};
    const Geodetic nearMunich{48.11732, 11.51672, 565};
    const Spread loose{1.0, 1.0, 2.0};
    const Spread tight{0.3, 0.3, 0.8};
    constexpr FixFilter kAll = FixFilter::kAll;
    constexpr FixFilter kDgps = FixFilter::kDifferential;
    const Case cases[] = {
        {"about the mean", munich, 2000, loose, 0, 0, {}, kAll},
        {"about a reference", munich, 2000, loose, 0, 0, nearMunich, kAll},
        {"a single fix", munich, 1, loose, 0, 0, {}, kAll},
        {"a single fix about a reference", munich, 1, loose, 0, 0, nearMunich, kAll},
        {"seven fixes", munich, 7, loose, 0, 0, {}, kAll},
        {"twenty fixes: both ranks fall on whole numbers", munich, 20, loose, 0, 0, nearMunich, kAll},
        {"across the antimeridian", {-16.5, 179.999995, 30}, 1000, loose, 0, 0, {}, kAll},
        {"beside the north pole", {89.999995, 40, 2800}, 1000, loose, 0, 0, {}, kAll},
        {"on the south pole", {-90, 0, 2835}, 1000, {3.0, 3.0, 5.0}, 0, 0, {}, kAll},
        {"differential only: autonomous fixes left out", munich, 3000, tight, 0, 30, {}, kDgps},
        {"every fix, the autonomous ones too", munich, 3000, tight, 0, 30, munich, kAll},
        {"a day at 5 Hz, wandering", munich, 432'000, {1.2, 1.2, 2.5}, 3.0, 0, {}, kAll},
    };
    for (const Case& c : cases) {
        const std::vector<Fix> fixes = MakeFixes(c);
        PositionStats stats;
        for (const Fix& f : fixes) {
            stats.AddFix(f.position, f.quality);
        }
        stats.SetFilter(c.filter);
        stats.SetReference(c.reference);
        const Expected expected = Compute(fixes, c.filter, c.reference);
        const auto got = stats.Figures();
        ASSERT_TRUE(got) << c.legend;
        EXPECT_EQ(got->fixes, expected.figures.fixes) << c.legend;
        EXPECT_EQ(got->aboutReference, c.reference.has_value()) << c.legend;
        const Vec a = EcefOf(got->mean), b = EcefOf(expected.figures.mean);
        EXPECT_LT(std::hypot(a.x - b.x, a.y - b.y, a.z - b.z), kMillimetre) << c.legend;
        EXPECT_NEAR(got->sigmaEastM, expected.figures.sigmaEastM, kMillimetre) << c.legend;
        EXPECT_NEAR(got->sigmaNorthM, expected.figures.sigmaNorthM, kMillimetre) << c.legend;
        EXPECT_NEAR(got->sigmaUpM, expected.figures.sigmaUpM, kMillimetre) << c.legend;
        EXPECT_NEAR(got->cep50M, expected.figures.cep50M, kMillimetre) << c.legend;
        EXPECT_NEAR(got->cep95M, expected.figures.cep95M, kMillimetre) << c.legend;
        EXPECT_NEAR(got->twiceDrmsM, expected.figures.twiceDrmsM, kMillimetre) << c.legend;
        const std::vector<EastNorth> scatter = stats.Scatter();
        ASSERT_EQ(scatter.size(), expected.scatter.size()) << c.legend;
        double worst = 0;
        for (size_t i = 0; i < scatter.size(); ++i) {
            worst = std::max(worst, std::hypot(scatter[i].eastM - expected.scatter[i].eastM,
                                               scatter[i].northM - expected.scatter[i].northM));
        }
        EXPECT_LT(worst, kMillimetre) << c.legend;
        EXPECT_LE(stats.Scatter(500).size(), 500u) << c.legend;
    }
}

}  // namespace
