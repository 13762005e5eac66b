#include "geo/Positionstats.h"

#include <algorithm>
#include <cmath>

#include "geo/Trackfixes.h"

namespace {

// The nearest-rank percentile's place in the sorted values: ceil(percent N / 100) - 1.
size_t RankIndex(size_t count, size_t percent) {
    return (percent * count + 99) / 100 - 1;
}

double Component(const Ecef& v, int axis) {
    return axis == 0 ? v.x : axis == 1 ? v.y : v.z;
}

}  // namespace

bool PassesFilter(int quality, FixFilter filter) {
    if (filter == FixFilter::kAll) {
        return quality > 0;
    }
    return quality == 2 || quality == 4 || quality == 5;
}

void PositionStats::Moments::Add(const Ecef& offset) {
    ++count;
    double before[3];
    for (int i = 0; i < 3; ++i) {
        before[i] = Component(offset, i) - mean[i];
        mean[i] += before[i] / static_cast<double>(count);
    }
    for (int i = 0; i < 3; ++i) {
        const double after = Component(offset, i) - mean[i];
        for (int j = 0; j < 3; ++j) {
            comoment[j][i] += before[j] * after;
        }
    }
}

double PositionStats::Moments::VarianceAlong(const Ecef& axis) const {
    double sum = 0;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            sum += Component(axis, i) * comoment[i][j] * Component(axis, j);
        }
    }
    return std::max(0.0, sum / static_cast<double>(count));
}

bool PositionStats::TakeLine(std::string_view line) {
    const auto fix = GgaFix(line);
    const auto height = fix ? fix->HeightM() : std::nullopt;
    if (!height) {
        return false;
    }
    AddFix({fix->latitudeDeg, fix->longitudeDeg, *height}, fix->quality);
    return true;
}

void PositionStats::AddFix(const Geodetic& position, int quality) {
    const Ecef point = ToEcef(position);
    if (!origin_) {
        origin_ = point;
    }
    const Ecef offset = point - *origin_;
    offsets_.push_back(offset);
    qualities_.push_back(static_cast<uint8_t>(std::clamp(quality, 0, 255)));
    all_.Add(offset);
    if (PassesFilter(quality, FixFilter::kDifferential)) {
        differential_.Add(offset);
    }
}

void PositionStats::Reset() {
    origin_.reset();
    offsets_ = {};
    qualities_ = {};
    all_ = {};
    differential_ = {};
}

std::optional<Geodetic> PositionStats::Mean() const {
    const Moments& m = Current();
    if (m.count == 0) {
        return std::nullopt;
    }
    return ToGeodetic(*origin_ + Ecef{m.mean[0], m.mean[1], m.mean[2]});
}

PositionStats::Centre PositionStats::CurrentCentre(const Geodetic& mean) const {
    if (reference_) {
        return {ToEcef(*reference_) - *origin_, *reference_};
    }
    const Moments& m = Current();
    return {{m.mean[0], m.mean[1], m.mean[2]}, mean};
}

std::optional<AccuracyFigures> PositionStats::Figures() const {
    const auto mean = Mean();
    if (!mean) {
        return std::nullopt;
    }
    const Moments& m = Current();
    const Centre centre = CurrentCentre(*mean);
    const LocalFrame frame(centre.position);
    AccuracyFigures figures;
    figures.fixes = m.count;
    figures.mean = *mean;
    figures.centre = centre.position;
    figures.aboutReference = reference_.has_value();
    figures.sigmaEastM = std::sqrt(m.VarianceAlong(frame.East()));
    figures.sigmaNorthM = std::sqrt(m.VarianceAlong(frame.North()));
    figures.sigmaUpM = std::sqrt(m.VarianceAlong(frame.Up()));

    std::vector<double> horizontal;
    horizontal.reserve(m.count);
    double sumSquares = 0;
    for (size_t i = 0; i < offsets_.size(); ++i) {
        if (PassesFilter(qualities_[i], filter_)) {
            const Enu enu = frame.ToEnu(offsets_[i] - centre.offset);
            const double squared = enu.eastM * enu.eastM + enu.northM * enu.northM;
            sumSquares += squared;
            horizontal.push_back(std::sqrt(squared));
        }
    }
    const auto at95 = horizontal.begin() + static_cast<std::ptrdiff_t>(RankIndex(horizontal.size(), 95));
    const auto at50 = horizontal.begin() + static_cast<std::ptrdiff_t>(RankIndex(horizontal.size(), 50));
    std::nth_element(horizontal.begin(), at95, horizontal.end());
    std::nth_element(horizontal.begin(), at50, at95);
    figures.cep50M = *at50;
    figures.cep95M = *at95;
    const double horizontalVariance =
        reference_ ? sumSquares / static_cast<double>(m.count)
                   : figures.sigmaEastM * figures.sigmaEastM + figures.sigmaNorthM * figures.sigmaNorthM;
    figures.twiceDrmsM = 2.0 * std::sqrt(horizontalVariance);
    return figures;
}

std::vector<EastNorth> PositionStats::Scatter(size_t maxPoints) const {
    const auto mean = Mean();
    std::vector<EastNorth> points;
    if (!mean || maxPoints == 0) {
        return points;
    }
    const Centre centre = CurrentCentre(*mean);
    const LocalFrame frame(centre.position);
    const size_t count = FixCount();
    const size_t stride = count / maxPoints + (count % maxPoints != 0 ? 1 : 0);
    points.reserve(std::min(count, maxPoints));
    size_t passed = 0;
    for (size_t i = 0; i < offsets_.size(); ++i) {
        if (PassesFilter(qualities_[i], filter_) && passed++ % stride == 0) {
            const Enu enu = frame.ToEnu(offsets_[i] - centre.offset);
            points.push_back({enu.eastM, enu.northM});
        }
    }
    return points;
}
