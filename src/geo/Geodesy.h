#pragma once
// WGS-84 positions: latitude, longitude and height above the ellipsoid, their earth-centred
// earth-fixed (ECEF) coordinates, and the local east-north-up frame at a point.
#include <optional>
#include <string>
#include <string_view>

namespace wgs84 {
constexpr double kSemiMajorAxisM = 6378137.0;
constexpr double kFlattening = 1.0 / 298.257223563;
constexpr double kEccentricitySquared = kFlattening * (2.0 - kFlattening);
constexpr double kSemiMinorAxisM = kSemiMajorAxisM * (1.0 - kFlattening);
}  // namespace wgs84

struct Geodetic {
    double latitudeDeg = 0;   // north positive
    double longitudeDeg = 0;  // east positive
    double heightM = 0;       // above the ellipsoid
};

struct Ecef {
    double x = 0;
    double y = 0;
    double z = 0;
};

inline Ecef operator-(const Ecef& a, const Ecef& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Ecef operator+(const Ecef& a, const Ecef& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline double Dot(const Ecef& a, const Ecef& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Ecef ToEcef(const Geodetic& position);
// Exact to well below a millimetre for any point from the earth's centre to far above it,
// the poles included. The longitude of a point on the axis is 0.
Geodetic ToGeodetic(const Ecef& point);

struct Enu {
    double eastM = 0;
    double northM = 0;
    double upM = 0;
};

// The tangent plane at a point: east, north and up as unit vectors in ECEF.
class LocalFrame {
  public:
    explicit LocalFrame(const Geodetic& origin);
    // An ECEF difference (a point less the origin) as east, north and up.
    Enu ToEnu(const Ecef& offset) const {
        return {Dot(east_, offset), Dot(north_, offset), Dot(up_, offset)};
    }
    const Ecef& East() const { return east_; }
    const Ecef& North() const { return north_; }
    const Ecef& Up() const { return up_; }

  private:
    Ecef east_;
    Ecef north_;
    Ecef up_;
};

// Reads "LAT,LON,HEIGHT": degrees north, degrees east, metres above the ellipsoid. Nothing,
// with `error` saying why, when the text is not three numbers in range.
std::optional<Geodetic> ParseGeodetic(std::string_view text, std::string& error);
