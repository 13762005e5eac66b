#include "ui/Storedsettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>
#include <cstdlib>
#include <memory>

namespace {
enum class Store { None, Native, File };

struct StoreChoice {
    Store store = Store::None;
    QString file;
};

StoreChoice& Chosen() {
    static StoreChoice choice;
    return choice;
}

// Limits beyond which a stored number is damage, not a setting.
constexpr int kMaxCoordinate = 1000000;
constexpr int kMaxExtent = 100000;
constexpr int kMaxBaudRate = 10000000;
constexpr qsizetype kMaxTextLength = 4096;

std::unique_ptr<QSettings> Open() {
    const StoreChoice& choice = Chosen();
    switch (choice.store) {
        case Store::Native:
            return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                               QCoreApplication::organizationName(),
                                               QCoreApplication::applicationName());
        case Store::File:
            return std::make_unique<QSettings>(choice.file, QSettings::IniFormat);
        case Store::None:
            break;
    }
    return nullptr;
}

QString FolderKey(FileFolder kind) {
    return kind == FileFolder::Records ? QStringLiteral("Folders/records")
                                       : QStringLiteral("Folders/software");
}

QString PlaceKey(const QString& window, const char* part) {
    return QStringLiteral("Windows/%1/%2").arg(window, QString::fromLatin1(part));
}

// Text that a damaged file could hold instead of a name: empty, overlong or with a NUL.
bool PlausibleText(const QString& text) {
    return !text.isEmpty() && text.size() <= kMaxTextLength && !text.contains(QChar(u'\0'));
}

bool PlausibleSize(const QSize& size) {
    return size.width() > 0 && size.height() > 0 && size.width() <= kMaxExtent && size.height() <= kMaxExtent;
}

bool PlausibleFrame(const QRect& frame) {
    return PlausibleSize(frame.size()) && std::abs(frame.x()) <= kMaxCoordinate &&
           std::abs(frame.y()) <= kMaxCoordinate;
}
}  // namespace

void UseNativeSettings() {
    Chosen() = {Store::Native, {}};
}

void UseSettingsFile(const QString& path) {
    Chosen() = {Store::File, path};
}

void UseNoSettings() {
    Chosen() = {};
}

std::optional<PortChoice> StoredPortChoice() {
    const auto settings = Open();
    if (!settings) {
        return std::nullopt;
    }
    const QVariant device = settings->value(QStringLiteral("Port/device"));
    bool rateRead = false;
    const int rate = settings->value(QStringLiteral("Port/baudRate")).toInt(&rateRead);
    if (device.typeId() != QMetaType::QString || !PlausibleText(device.toString()) || !rateRead ||
        rate <= 0 || rate > kMaxBaudRate) {
        return std::nullopt;
    }
    return PortChoice{device.toString().toStdString(), rate};
}

void StorePortChoice(const PortChoice& choice) {
    if (const auto settings = Open()) {
        settings->setValue(QStringLiteral("Port/device"), QString::fromStdString(choice.device));
        settings->setValue(QStringLiteral("Port/baudRate"), choice.baudRate);
    }
}

QString StoredFolder(FileFolder kind) {
    const auto settings = Open();
    if (!settings) {
        return {};
    }
    const QVariant folder = settings->value(FolderKey(kind));
    if (folder.typeId() != QMetaType::QString || !PlausibleText(folder.toString()) ||
        !QDir(folder.toString()).exists()) {
        return {};  // a folder since removed is no better than none
    }
    return folder.toString();
}

void StoreFolderOf(FileFolder kind, const QString& chosenFile) {
    if (const auto settings = Open()) {
        settings->setValue(FolderKey(kind), QFileInfo(chosenFile).absolutePath());
    }
}

std::optional<WindowPlace> StoredPlace(const QString& window) {
    const auto settings = Open();
    if (!settings) {
        return std::nullopt;
    }
    const QVariant frame = settings->value(PlaceKey(window, "frame"));
    const QVariant client = settings->value(PlaceKey(window, "client"));
    if (frame.typeId() != QMetaType::QRect || client.typeId() != QMetaType::QSize ||
        !PlausibleFrame(frame.toRect()) || !PlausibleSize(client.toSize())) {
        return std::nullopt;
    }
    return WindowPlace{frame.toRect(), client.toSize()};
}

void StorePlace(const QString& window, const WindowPlace& place) {
    if (const auto settings = Open()) {
        settings->setValue(PlaceKey(window, "frame"), place.frame);
        settings->setValue(PlaceKey(window, "client"), place.client);
    }
}
