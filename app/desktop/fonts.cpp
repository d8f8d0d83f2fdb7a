#include "app/desktop/fonts.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHash>
#include <QMutex>
#include <QStringList>

namespace velopad::desktop {

namespace {

struct RegisteredFaces {
    QMutex mutex;
    bool registered = false;
    QHash<QString, QString> familyOfFace;  // "SpaceGrotesk-SemiBold" → "Space Grotesk"
};

RegisteredFaces& faces() {
    static RegisteredFaces instance;
    return instance;
}

// The weight Qt matches against the face's own style.
QFont::Weight weightOfStyle(const QString& style) {
    if (style == QLatin1String("Medium")) return QFont::Medium;
    if (style == QLatin1String("SemiBold")) return QFont::DemiBold;
    if (style == QLatin1String("Bold")) return QFont::Bold;
    return QFont::Normal;
}

}  // namespace

void registerFonts() {
    auto& registry = faces();
    QMutexLocker lock(&registry.mutex);
    if (registry.registered) return;
    registry.registered = true;
    const QDir directory(QStringLiteral(":/velopad/fonts"));
    for (const QString& file : directory.entryList({QStringLiteral("*.ttf")}, QDir::Files)) {
        const int id = QFontDatabase::addApplicationFont(directory.filePath(file));
        if (id < 0) continue;
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (!families.isEmpty()) {
            registry.familyOfFace.insert(QFileInfo(file).completeBaseName(), families.first());
        }
    }
}

QFont typographyFont(DeckTypography::Family family, int weight, qreal pointSize) {
    const std::string face = DeckTypography::faceName(family, weight);
    const QString faceName = QString::fromStdString(face);
    const QString style = faceName.section(QLatin1Char('-'), 1);
    QString familyName;
    {
        auto& registry = faces();
        QMutexLocker lock(&registry.mutex);
        familyName = registry.familyOfFace.value(faceName);
    }
    if (familyName.isEmpty()) {
        const auto name = DeckTypography::familyName(family);
        familyName = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    }
    QFont font(familyName);
    font.setStyleName(style);
    font.setWeight(weightOfStyle(style));
    font.setPointSizeF(pointSize);
    return font;
}

}  // namespace velopad::desktop
