#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "config/Receiverstatus.h"

namespace {

// "$" + body + "*hh" + CR LF.
std::string Sentence(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

std::string Snr(double l1, double l2, double correction) {
    char body[64];
    std::snprintf(body, sizeof body, "PNSNR,90,%.1f,%.1f,%.1f,0", correction, l1, l2);
    return Sentence(body);
}

TEST(ReceiverStatus, CountsKindsFailuresAndAges) {
    ReceiverStatus s;
    s.TakeLine(Sentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"), 1000);
    s.TakeLine(Sentence("GNGGA,123520,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"), 2000);
    s.TakeLine(Sentence("GLGSV,1,1,01,65,42,032,41"), 2000);
    s.TakeLine("$GPZDA,201530.00,04,07,2002,00,00*61\r\n", 2000);  // bad checksum
    s.TakeLine("$GPZDA,201530.00,04,07,20\r\n", 2000);             // truncated
    s.TakeLine("Proprietary noise\r\n", 2000);

    EXPECT_EQ(s.Count(NmeaKind::kGGA), 2u);
    EXPECT_EQ(s.Count(NmeaKind::kOther), 1u);
    EXPECT_EQ(s.Count(NmeaKind::kZDA), 0u);
    EXPECT_EQ(s.ChecksumFailures(), 1u);
    EXPECT_EQ(s.Unchecked(), 1u);
    EXPECT_EQ(s.AgeMs(NmeaKind::kGGA, 5000), 3000);
    EXPECT_FALSE(s.IsStale(NmeaKind::kGGA, 5000));
    EXPECT_TRUE(s.IsStale(NmeaKind::kGGA, 5001));
    EXPECT_FALSE(s.AgeMs(NmeaKind::kZDA, 5000).has_value());
    EXPECT_FALSE(s.IsStale(NmeaKind::kZDA, 1'000'000));
}

TEST(ReceiverStatus, EachValueIsTheLatestSentenceThatCarriesIt) {
    ReceiverStatus s;
    s.TakeLine(Sentence("GPGGA,123519,4807.038,N,01131.000,E,2,08,0.9,545.4,M,46.9,M,,"), 0);
    s.TakeLine(Sentence("GPVTG,054.7,T,034.4,M,005.5,N,,K"), 0);
    const StatusValues& v = s.Values();
    EXPECT_DOUBLE_EQ(v.latitudeDeg.value_or(0), 48.1173);
    EXPECT_EQ(v.fixQuality, 2);
    EXPECT_DOUBLE_EQ(v.speedKmh.value_or(0), 5.5 * 1.852);  // from the knots when VTG gives no km/h

    s.TakeLine(Sentence("GPRMC,123520,A,4807.038,S,01131.000,W,022.4,084.4,230394,003.1,W"), 0);
    EXPECT_DOUBLE_EQ(v.latitudeDeg.value_or(0), -48.1173);
    EXPECT_DOUBLE_EQ(v.courseDeg.value_or(0), 84.4);
    EXPECT_EQ(v.utcDate->year, 1994);
    EXPECT_DOUBLE_EQ(v.utcTime->second, 20.0);
    s.TakeLine(Sentence("GPRMC,123521,V,4807.038,S,01131.000,W,022.4,084.4,230394,003.1,W"), 0);
    EXPECT_FALSE(v.latitudeDeg.has_value()) << "a position the receiver warns about is not shown";
    EXPECT_FALSE(v.speedKnots.has_value());
    EXPECT_EQ(v.fixQuality, 2) << "RMC carries no fix quality";

    // Satellites used, per talker and system: a system that goes quiet drops out.
    s.TakeLine(Sentence("GPGSA,A,3,02,05,,,,,,,,,,,1.6,0.9,1.3"), 0);
    s.TakeLine(Sentence("BDGSA,A,3,201,203,,,,,,,,,,,1.9,1.1,1.5"), 0);
    s.TakeLine(Sentence("GNGSA,A,3,65,67,,,,,,,,,,,1.2,0.7,1.0,2"), 0);
    s.TakeLine(Sentence("GNGSA,A,3,66,,,,,,,,,,,,1.2,0.7,1.0,2"), 1000);
    ASSERT_EQ(s.SatelliteSetCount(), 3u);
    EXPECT_EQ(s.SatelliteSet(2).prns[0], 66);
    EXPECT_EQ(s.SatelliteSet(2).count, 1u);
    EXPECT_DOUBLE_EQ(v.vdop.value_or(0), 1.0);
    s.TakeLine(Sentence("GPGSA,A,3,02,05,07,,,,,,,,,,1.6,0.9,1.3"), 3500);
    ASSERT_EQ(s.SatelliteSetCount(), 2u);
    EXPECT_EQ(s.SatelliteSet(0).count, 3u);
    EXPECT_EQ(s.SatelliteSet(1).prns[0], 66);
}

TEST(ReceiverStatus, SignalHistoryKeepsOnePointASecondForTenMinutes) {
    ReceiverStatus s;
    const int64_t start = 5'000'000;
    for (int64_t ms = 0; ms <= 11 * 60 * 1000; ms += 200) {  // 5 Hz for 11 minutes
        s.TakeLine(Snr(40.0 + static_cast<double>(ms % 1000) / 100.0, 30.0, 10.0), start + ms);
    }
    ASSERT_EQ(s.HistorySize(), ReceiverStatus::kHistoryCapacity);
    const int64_t end = start + 11 * 60 * 1000;
    EXPECT_EQ(s.HistoryAt(0).ms, end - ReceiverStatus::kHistoryMs + 800);  // its second's last
    EXPECT_EQ(s.HistoryAt(s.HistorySize() - 1).ms, end);
    EXPECT_DOUBLE_EQ(s.HistoryAt(1).l1Snr, 48.0) << "the last sentence of each second";
    EXPECT_DOUBLE_EQ(s.HistoryAt(1).correctionDb, 10.0);

    s.Expire(end + 5 * 60 * 1000);
    EXPECT_EQ(s.HistorySize(), 301u);
    s.TakeLine(Sentence("PNSNR,90,,44.0,,0"), end + 5 * 60 * 1000 + 1000);
    EXPECT_TRUE(std::isnan(s.HistoryAt(s.HistorySize() - 1).l2Snr)) << "a value not sent";
    s.Expire(end + 20 * 60 * 1000);
    EXPECT_EQ(s.HistorySize(), 0u);
}

}  // namespace
