#include "platform/qt/qt_defaults.h"

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QUrl>

#include <mutex>

namespace pindle::qt {
namespace {

// INI keeps no value types: booleans come back as "true"/"false", numbers as text. The
// getters convert and refuse what does not fit. Data is kept as @ByteArray(...).
class SettingsFileDefaults final : public Defaults {
public:
    explicit SettingsFileDefaults(const std::filesystem::path& iniFile)
        : settings_(QString::fromStdString(iniFile.string()), QSettings::IniFormat) {}

    bool contains(const std::string& key) const override {
        std::lock_guard lock(mutex_);
        return settings_.contains(qkey(key));
    }

    std::optional<bool> boolForKey(const std::string& key) const override {
        auto value = get(key);
        if (!value) {
            return std::nullopt;
        }
        QString text = value->toString().trimmed().toLower();
        if (text == "true" || text == "1") {
            return true;
        }
        if (text == "false" || text == "0") {
            return false;
        }
        return std::nullopt;
    }

    std::optional<int64_t> integerForKey(const std::string& key) const override {
        auto value = get(key);
        if (!value) {
            return std::nullopt;
        }
        QString text = value->toString().trimmed().toLower();
        if (text == "true") {
            return 1;
        }
        if (text == "false") {
            return 0;
        }
        bool ok = false;
        qlonglong number = text.toLongLong(&ok);
        return ok ? std::optional<int64_t>(number) : std::nullopt;
    }

    std::optional<std::string> stringForKey(const std::string& key) const override {
        auto value = get(key);
        if (!value || value->typeId() == QMetaType::QByteArray) {
            return std::nullopt;
        }
        return value->toString().toStdString();
    }

    std::optional<Bytes> dataForKey(const std::string& key) const override {
        auto value = get(key);
        if (!value || value->typeId() != QMetaType::QByteArray) {
            return std::nullopt;
        }
        QByteArray bytes = value->toByteArray();
        return Bytes(bytes.begin(), bytes.end());
    }

    std::optional<std::string> urlForKey(const std::string& key) const override {
        auto text = stringForKey(key);
        if (!text) {
            return std::nullopt;
        }
        QUrl url(QString::fromStdString(*text), QUrl::StrictMode);
        if (!url.isValid() || url.scheme().isEmpty()) {
            return std::nullopt;
        }
        return text;
    }

    void setBool(const std::string& key, bool value) override { set(key, QVariant(value)); }
    void setInteger(const std::string& key, int64_t value) override {
        set(key, QVariant(static_cast<qlonglong>(value)));
    }
    void setString(const std::string& key, const std::string& value) override {
        set(key, QVariant(QString::fromStdString(value)));
    }
    void setData(const std::string& key, const Bytes& value) override {
        set(key, QVariant(QByteArray(reinterpret_cast<const char*>(value.data()),
                                     static_cast<qsizetype>(value.size()))));
    }
    void setURL(const std::string& key, const std::string& url) override { setString(key, url); }

    void remove(const std::string& key) override {
        std::lock_guard lock(mutex_);
        settings_.remove(qkey(key));
    }

    bool synchronize() override {
        std::lock_guard lock(mutex_);
        settings_.sync();
        return settings_.status() == QSettings::NoError;
    }

private:
    static QString qkey(const std::string& key) { return QString::fromStdString(key); }

    std::optional<QVariant> get(const std::string& key) const {
        std::lock_guard lock(mutex_);
        QVariant value = settings_.value(qkey(key));
        if (!value.isValid()) {
            return std::nullopt;
        }
        return value;
    }

    void set(const std::string& key, const QVariant& value) {
        std::lock_guard lock(mutex_);
        settings_.setValue(qkey(key), value);
    }

    mutable std::mutex mutex_;  // guards settings_
    mutable QSettings settings_;
};

}  // namespace

std::unique_ptr<Defaults> makeSettingsFileDefaults(const std::filesystem::path& iniFile) {
    return std::make_unique<SettingsFileDefaults>(iniFile);
}

}  // namespace pindle::qt
