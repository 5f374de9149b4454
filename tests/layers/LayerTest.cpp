#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

namespace velmora {
namespace {

// The layers from the bottom up, each by the folders (under the source root) that make it. A
// file may include the headers of its own layer and of the layers below, never above.
const QList<QStringList> kLayers = {
    {"src/base"},     {"src/session"}, {"src/protocol"},
    {"src/transfer"}, {"src/peer"},    {"src/conversation", "src/connections"},
    {"src/shell"},    {"apps"},
};

// The layer of a path relative to the source root; -1 outside every layer.
int layerOf(const QString& path) {
    for (int layer = 0; layer < kLayers.size(); ++layer) {
        for (const QString& folder : kLayers[layer]) {
            if (path == folder || path.startsWith(folder + '/')) {
                return layer;
            }
        }
    }
    return -1;
}

// Every project include of every source file in a layer that names a higher layer.
QStringList upwardIncludes(const QString& root) {
    static const QRegularExpression include(QStringLiteral(R"re(^\s*#\s*include\s+"([^"]+)")re"),
                                            QRegularExpression::MultilineOption);
    QStringList faults;
    for (const QString& top : {QStringLiteral("src"), QStringLiteral("apps")}) {
        QDirIterator files(root + '/' + top, {"*.h", "*.cpp"}, QDir::Files,
                           QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            const QString relative = path.mid(root.size() + 1);
            const int own = layerOf(relative);
            QFile file(path);
            if (own < 0 || !file.open(QIODevice::ReadOnly)) {
                continue;
            }
            const QString text = QString::fromUtf8(file.readAll());
            for (auto match = include.globalMatch(text); match.hasNext();) {
                const QString header = match.next().captured(1);
                // Headers are named from src/ (or from the root for apps/).
                const int theirs = std::max(layerOf("src/" + header), layerOf(header));
                if (theirs > own) {
                    faults << relative + " includes " + header;
                }
            }
        }
    }
    return faults;
}

TEST(Layers, NoFileIncludesAHeaderOfAHigherLayer) {
    const QString root = QStringLiteral(VELMORA_SOURCE_DIR);
    ASSERT_TRUE(QFile::exists(root + "/src/base"))
        << "the source tree is at " << root.toStdString();
    const QStringList faults = upwardIncludes(root);
    EXPECT_TRUE(faults.isEmpty()) << faults.join('\n').toStdString();
}

TEST(Layers, FoldersTakeTheirPlaceInTheOrder) {
    EXPECT_EQ(layerOf("src/base/IniFile.h"), 0);
    EXPECT_EQ(layerOf("src/session/link/LinkEngine.h"), 1);
    EXPECT_EQ(layerOf("src/connections/ConnectionForm.h"), layerOf("src/conversation/X.h"));
    EXPECT_LT(layerOf("src/peer/Peer.h"), layerOf("src/shell/MainForm.h"));
    EXPECT_EQ(layerOf("tests/peer/PeerTest.cpp"), -1);
}

}  // namespace
}  // namespace velmora
