#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "proto/Nmeafields.h"

void PrintTo(NmeaCheck check, std::ostream* out) {
    constexpr const char* kNames[] = {"valid", "bad checksum", "no checksum", "not a sentence"};
    *out << kNames[static_cast<int>(check)];
}

void PrintTo(NmeaKind kind, std::ostream* out) {
    *out << NmeaKindName(kind);
}

namespace {

std::string Text(const std::optional<double>& v) {
    char text[32] = "-";
    if (v) {
        std::snprintf(text, sizeof text, "%.8g", *v);
    }
    return text;
}

std::string Text(const std::optional<int>& v) {
    return v ? std::to_string(*v) : "-";
}

std::string Text(const std::optional<NmeaTime>& t) {
    char text[32] = "-";
    if (t) {
        std::snprintf(text, sizeof text, "%02d:%02d:%05.2f", t->hour, t->minute, t->second);
    }
    return text;
}

std::string Text(const std::optional<NmeaDate>& d) {
    char text[40] = "-";
    if (d) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", d->year, d->month, d->day);
    }
    return text;
}

// What the decoder of the sentence's kind reads, in one line.
std::string Decoded(const NmeaFields& f) {
    switch (f.kind) {
        case NmeaKind::kGGA: {
            const GgaData d = DecodeGga(f);
            return "t=" + Text(d.utc) + " lat=" + Text(d.latitudeDeg) + " lon=" + Text(d.longitudeDeg) +
                   " q=" + Text(d.quality) + " n=" + Text(d.satellitesUsed) + " hdop=" + Text(d.hdop) +
                   " alt=" + Text(d.altitudeM) + " sep=" + Text(d.geoidSeparationM);
        }
        case NmeaKind::kGSA: {
            const GsaData d = DecodeGsa(f);
            std::string prns;
            for (size_t i = 0; i < d.prnCount; ++i) {
                prns += (i > 0 ? "," : "") + std::to_string(d.prns[i]);
            }
            return std::string("sel=") + (d.selection != 0 ? d.selection : '-') + " mode=" + Text(d.mode) +
                   " prns=" + prns + " pdop=" + Text(d.pdop) + " hdop=" + Text(d.hdop) +
                   " vdop=" + Text(d.vdop) + " sys=" + Text(d.systemId);
        }
        case NmeaKind::kVTG: {
            const VtgData d = DecodeVtg(f);
            return "course=" + Text(d.courseTrueDeg) + " kn=" + Text(d.speedKnots) +
                   " kmh=" + Text(d.speedKmh);
        }
        case NmeaKind::kRMC: {
            const RmcData d = DecodeRmc(f);
            return "t=" + Text(d.utc) + " valid=" + std::to_string(d.valid) + " lat=" + Text(d.latitudeDeg) +
                   " lon=" + Text(d.longitudeDeg) + " kn=" + Text(d.speedKnots) +
                   " course=" + Text(d.courseTrueDeg) + " date=" + Text(d.date);
        }
        case NmeaKind::kZDA: {
            const ZdaData d = DecodeZda(f);
            return "t=" + Text(d.utc) + " date=" + Text(d.date);
        }
        case NmeaKind::kSNR: {
            const SnrData d = DecodeSnr(f);
            return "acc=" + Text(d.accuracy) + " corr=" + Text(d.correctionDb) + " l1=" + Text(d.l1Snr) +
                   " l2=" + Text(d.l2Snr) + " backup=" + Text(d.backupSatellites);
        }
        case NmeaKind::kOther:
            break;
    }
    return "";
}

struct Case {
    const char* legend;
    const char* line;
    NmeaCheck check;
    NmeaKind kind;
    const char* decoded;  // compared for kValid lines only
};

constexpr auto kValid = NmeaCheck::kValid;
constexpr auto kBad = NmeaCheck::kBadChecksum;
constexpr auto kNone = NmeaCheck::kNoChecksum;
constexpr auto kNotSentence = NmeaCheck::kNotSentence;

const Case kCases[] = {
    {"GGA with CR LF, upper-case hex",
     "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n", kValid, NmeaKind::kGGA,
     "t=12:35:19.00 lat=48.1173 lon=11.516667 q=1 n=8 hdop=0.9 alt=545.4 sep=46.9"},
    {"GGA of a combined receiver without a fix: empty fields, lower-case hex",
     "$GNGGA,001043.00,,,,,0,00,99.99,,,,,,*7e\r\n", kValid, NmeaKind::kGGA,
     "t=00:10:43.00 lat=- lon=- q=0 n=0 hdop=99.99 alt=- sep=-"},
    {"Galileo GGA, south and west, a leap second, below sea level, no line end",
     "$GAGGA,235960.5,3351.2000,S,15112.5000,W,6,04,2.0,-12.5,M,,,,*00", kValid, NmeaKind::kGGA,
     "t=23:59:60.50 lat=-33.853333 lon=-151.20833 q=6 n=4 hdop=2 alt=-12.5 sep=-"},
    {"GGA with values out of range or unreadable: each one not known",
     "$GPGGA,250000,4860.000,N,18100.000,E,1,x8,,,M,,,,*54", kValid, NmeaKind::kGGA,
     "t=- lat=- lon=- q=1 n=- hdop=- alt=- sep=-"},
    {"GGA of a differential fix where the geoid lies below the ellipsoid",
     "$GNGGA,093015.20,0130.1234,S,07245.5000,E,2,12,0.7,12.3,M,-64.8,M,2.0,0305*5E\r\n", kValid,
     NmeaKind::kGGA, "t=09:30:15.20 lat=-1.5020567 lon=72.758333 q=2 n=12 hdop=0.7 alt=12.3 sep=-64.8"},
    {"GSA with gaps between the PRNs", "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n", kValid,
     NmeaKind::kGSA, "sel=A mode=3 prns=4,5,9,12,24 pdop=2.5 hdop=1.3 vdop=2.1 sys=-"},
    {"GSA of a combined receiver with its system id, LF only",
     "$GNGSA,A,3,65,67,80,81,82,88,66,,,,,,1.2,0.7,1.0,2*3e\n", kValid, NmeaKind::kGSA,
     "sel=A mode=3 prns=65,67,80,81,82,88,66 pdop=1.2 hdop=0.7 vdop=1 sys=2"},
    {"BeiDou GSA with three-digit PRNs", "$BDGSA,A,3,201,203,206,,,,,,,,,,1.9,1.1,1.5*19\r\n", kValid,
     NmeaKind::kGSA, "sel=A mode=3 prns=201,203,206 pdop=1.9 hdop=1.1 vdop=1.5 sys=-"},
    {"GSA, manual 2D, nothing else", "$GPGSA,M,2,,,,,,,,,,,,,,,*11\r\n", kValid, NmeaKind::kGSA,
     "sel=M mode=2 prns= pdop=- hdop=- vdop=- sys=-"},
    {"VTG", "$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48\r\n", kValid, NmeaKind::kVTG,
     "course=54.7 kn=5.5 kmh=10.2"},
    {"VTG standing still", "$GPVTG,,T,,M,0.00,N,,K,N*32\r\n", kValid, NmeaKind::kVTG, "course=- kn=0 kmh=-"},
    {"RMC, valid", "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n", kValid,
     NmeaKind::kRMC, "t=12:35:19.00 valid=1 lat=48.1173 lon=11.516667 kn=22.4 course=84.4 date=1994-03-23"},
    {"RMC, the receiver's warning, with a date", "$GNRMC,001043.00,V,,,,,,,060124,,,N*64\r\n", kValid,
     NmeaKind::kRMC, "t=00:10:43.00 valid=0 lat=- lon=- kn=- course=- date=2024-01-06"},
    {"ZDA", "$GPZDA,201530.00,04,07,2002,00,00*60\r\n", kValid, NmeaKind::kZDA,
     "t=20:15:30.00 date=2002-07-04"},
    {"the receiver's SNR", "$PNSNR,92,11.5,44.2,38.7,1*52\r\n", kValid, NmeaKind::kSNR,
     "acc=92 corr=11.5 l1=44.2 l2=38.7 backup=1"},
    {"SNR with every field empty, lower-case hex", "$PNSNR,,,,,*7d\r\n", kValid, NmeaKind::kSNR,
     "acc=- corr=- l1=- l2=- backup=-"},
    {"a kind not decoded", "$GLGSV,2,1,07,65,42,032,41,66,71,140,44,72,18,301,37,79,55,210,42*62\r\n", kValid,
     NmeaKind::kOther, ""},
    {"a lower-case talker is not a talker", "$gpzda,201530.00,04,07,2002,00,00*40\r\n", kValid,
     NmeaKind::kOther, ""},
    {"checksum that does not match", "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*48\r\n",
     kBad, NmeaKind::kGGA, ""},
    {"a field changed on the line", "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.5,M,46.9,M,,*47\r\n",
     kBad, NmeaKind::kGGA, ""},
    {"one hex digit", "$PNSNR,92,11.5,44.2,38.7,1*5\r\n", kBad, NmeaKind::kSNR, ""},
    {"three hex digits", "$PNSNR,92,11.5,44.2,38.7,1*521\r\n", kBad, NmeaKind::kSNR, ""},
    {"not hex", "$PNSNR,92,11.5,44.2,38.7,1*5G\r\n", kBad, NmeaKind::kSNR, ""},
    {"a space after the checksum", "$PNSNR,92,11.5,44.2,38.7,1*52 \r\n", kBad, NmeaKind::kSNR, ""},
    {"truncated: the tail lost", "$GPGGA,123519,4807.038,N,011\r\n", kNone, NmeaKind::kGGA, ""},
    {"truncated after the address", "$GPRMC\r\n", kNone, NmeaKind::kRMC, ""},
    {"a lone dollar", "$\r\n", kNone, NmeaKind::kOther, ""},
    {"no dollar", "GPGGA,123519*47\r\n", kNotSentence, NmeaKind::kOther, ""},
    {"an empty line", "\r\n", kNotSentence, NmeaKind::kOther, ""},
    {"binary bytes", "\x02\x99\x66\xd8\r\n", kNotSentence, NmeaKind::kOther, ""},
};

TEST(Nmeafields, SplitsChecksAndDecodesRealSentences) {
    for (const Case& c : kCases) {
        NmeaFields f;
        EXPECT_EQ(SplitNmea(c.line, f), c.check) << c.legend;
        EXPECT_EQ(f.kind, c.kind) << c.legend;
        if (c.check == NmeaCheck::kValid) {
            EXPECT_EQ(Decoded(f), c.decoded) << c.legend;
        }
    }
}

}  // namespace
