#include "geo/Geodesy.h"

#include <charconv>
#include <cmath>
#include <numbers>

namespace {

constexpr double kDegrees = 180.0 / std::numbers::pi;
// Bowring's iteration gains about three digits a step from the parametric latitude; three
// steps reach the limit of a double for any point on or above the earth.
constexpr int kLatitudeSteps = 3;
constexpr double kMaxReferenceHeightM = 100'000.0;

double Radians(double degrees) {
    return degrees / kDegrees;
}

// The radius of curvature in the prime vertical at the latitude.
double PrimeVerticalRadius(double sinLatitude) {
    return wgs84::kSemiMajorAxisM / std::sqrt(1.0 - wgs84::kEccentricitySquared * sinLatitude * sinLatitude);
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// A whole decimal number, an optional sign in front; nothing else.
std::optional<double> ReadNumber(std::string_view text) {
    text = Trimmed(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    double value = 0;
    const auto [end, problem] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (text.empty() || problem != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

Ecef ToEcef(const Geodetic& position) {
    const double latitude = Radians(position.latitudeDeg);
    const double longitude = Radians(position.longitudeDeg);
    const double sinLatitude = std::sin(latitude);
    const double n = PrimeVerticalRadius(sinLatitude);
    const double across = (n + position.heightM) * std::cos(latitude);
    return {across * std::cos(longitude), across * std::sin(longitude),
            (n * (1.0 - wgs84::kEccentricitySquared) + position.heightM) * sinLatitude};
}

Geodetic ToGeodetic(const Ecef& point) {
    using namespace wgs84;
    constexpr double kSecondEccentricitySquared = kEccentricitySquared / (1.0 - kEccentricitySquared);
    const double p = std::hypot(point.x, point.y);
    double parametric = std::atan2(point.z, (1.0 - kFlattening) * p);
    double latitude = 0;
    for (int step = 0; step < kLatitudeSteps; ++step) {
        const double s = std::sin(parametric);
        const double c = std::cos(parametric);
        latitude = std::atan2(point.z + kSecondEccentricitySquared * kSemiMinorAxisM * s * s * s,
                              p - kEccentricitySquared * kSemiMajorAxisM * c * c * c);
        parametric = std::atan2((1.0 - kFlattening) * std::sin(latitude), std::cos(latitude));
    }
    const double sinLatitude = std::sin(latitude);
    // The height along the normal, without the 1/cos that fails at the poles.
    const double height = p * std::cos(latitude) + point.z * sinLatitude -
                          kSemiMajorAxisM * std::sqrt(1.0 - kEccentricitySquared * sinLatitude * sinLatitude);
    const double longitude = p == 0.0 ? 0.0 : std::atan2(point.y, point.x);
    return {latitude * kDegrees, longitude * kDegrees, height};
}

LocalFrame::LocalFrame(const Geodetic& origin) {
    const double latitude = Radians(origin.latitudeDeg);
    const double longitude = Radians(origin.longitudeDeg);
    const double sinLat = std::sin(latitude);
    const double cosLat = std::cos(latitude);
    const double sinLon = std::sin(longitude);
    const double cosLon = std::cos(longitude);
    east_ = {-sinLon, cosLon, 0.0};
    north_ = {-sinLat * cosLon, -sinLat * sinLon, cosLat};
    up_ = {cosLat * cosLon, cosLat * sinLon, sinLat};
}

std::optional<Geodetic> ParseGeodetic(std::string_view text, std::string& error) {
    const size_t first = text.find(',');
    const size_t second = first == std::string_view::npos ? first : text.find(',', first + 1);
    if (second == std::string_view::npos || text.find(',', second + 1) != std::string_view::npos) {
        error = "a position is LAT,LON,HEIGHT: three numbers separated by commas";
        return std::nullopt;
    }
    const auto latitude = ReadNumber(text.substr(0, first));
    const auto longitude = ReadNumber(text.substr(first + 1, second - first - 1));
    const auto height = ReadNumber(text.substr(second + 1));
    if (!latitude || !longitude || !height) {
        error = "a position is LAT,LON,HEIGHT in decimal degrees and metres (48.1173,11.5167,566.2)";
        return std::nullopt;
    }
    if (std::fabs(*latitude) > 90.0) {
        error = "the latitude is out of range (-90 to 90)";
        return std::nullopt;
    }
    if (std::fabs(*longitude) > 180.0) {
        error = "the longitude is out of range (-180 to 180)";
        return std::nullopt;
    }
    if (std::fabs(*height) > kMaxReferenceHeightM) {
        error = "the height is out of range (-100000 to 100000 m)";
        return std::nullopt;
    }
    return Geodetic{*latitude, *longitude, *height};
}
