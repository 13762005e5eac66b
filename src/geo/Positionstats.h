#pragma once
// How well a receiver holds its position: its fixes about their mean, or about a point the
// user gives, as the figures a technician reads.
//
// - A fix's position is its latitude, longitude and height above the WGS-84 ellipsoid (GGA's
//   altitude plus its geoid separation, a missing separation counting as 0).
// - The mean is the average of the fixes' ECEF coordinates, turned back into latitude,
//   longitude and height, so that fixes across the antimeridian or about a pole average right.
// - Each fix becomes east, north and up in the tangent plane at the centre (the mean or the
//   reference), through ECEF.
// - The sigmas are population standard deviations of east, north and up; the horizontal error
//   d is sqrt(e^2 + n^2); CEP50 and CEP95 are the nearest-rank percentiles of d (the sorted d
//   at ceil(p N) - 1); 2DRMS is 2 sqrt(sigma_e^2 + sigma_n^2) about the mean and
//   2 sqrt(mean(e^2 + n^2)) about a reference.
//
// Fed one fix, or one received line, at a time. The mean and the sigmas are running sums
// (Welford's, over the fixes' offsets from the first fix, so a day at 5 Hz keeps its
// millimetres) and are ready at any time; the percentiles take one pass over the stored fixes.
// A fix is stored as its ECEF offset from the first fix and its quality, 25 bytes, so that the
// reference and the filter can change after the fact.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "geo/Geodesy.h"

enum class FixFilter : uint8_t {
    kAll,           // every fix (GGA quality above 0)
    kDifferential,  // differential fixes: 2 (DGPS), 4 (RTK fixed) and 5 (RTK float)
};

bool PassesFilter(int quality, FixFilter filter);

struct EastNorth {
    double eastM = 0;
    double northM = 0;
};

struct AccuracyFigures {
    size_t fixes = 0;  // those the figures are over
    Geodetic mean;
    Geodetic centre;  // the mean, or the reference
    bool aboutReference = false;
    double sigmaEastM = 0;
    double sigmaNorthM = 0;
    double sigmaUpM = 0;
    double cep50M = 0;
    double cep95M = 0;
    double twiceDrmsM = 0;
};

class PositionStats {
  public:
    // Takes one received line: a GGA sentence with a fix, a position and an altitude adds a
    // fix (whatever the filter: the filter chooses among the fixes taken). True when it did.
    bool TakeLine(std::string_view line);
    void AddFix(const Geodetic& position, int quality);
    // Forgets every fix; the reference and the filter stay.
    void Reset();

    void SetReference(const std::optional<Geodetic>& reference) { reference_ = reference; }
    const std::optional<Geodetic>& Reference() const { return reference_; }
    void SetFilter(FixFilter filter) { filter_ = filter; }
    FixFilter Filter() const { return filter_; }

    // The fixes the filter passes, and every fix taken.
    size_t FixCount() const { return Current().count; }
    size_t AllFixCount() const { return offsets_.size(); }

    // The mean position of the fixes the filter passes, at once; nothing without one.
    std::optional<Geodetic> Mean() const;
    // Every figure, about the reference when one is set; one pass over the fixes.
    std::optional<AccuracyFigures> Figures() const;
    // East and north of the fixes the filter passes, about the centre, for a scatter plot:
    // at most maxPoints of them, evenly chosen.
    std::vector<EastNorth> Scatter(size_t maxPoints = SIZE_MAX) const;

  private:
    // Running mean and co-moments of ECEF offsets (Welford).
    struct Moments {
        size_t count = 0;
        double mean[3] = {};
        double comoment[3][3] = {};
        void Add(const Ecef& offset);
        // The variance along a unit vector.
        double VarianceAlong(const Ecef& axis) const;
    };
    struct Centre {
        Ecef offset;  // from the first fix
        Geodetic position;
    };

    const Moments& Current() const { return filter_ == FixFilter::kAll ? all_ : differential_; }
    Centre CurrentCentre(const Geodetic& mean) const;

    std::optional<Ecef> origin_;  // the first fix
    std::vector<Ecef> offsets_;
    std::vector<uint8_t> qualities_;
    Moments all_;
    Moments differential_;
    std::optional<Geodetic> reference_;
    FixFilter filter_ = FixFilter::kAll;
};
