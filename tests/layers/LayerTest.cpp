#include "support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
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

bool isFileUnder(const QString& root, const QString& path) {
    return QFileInfo(root + '/' + path).isFile();
}

// The project header an include names, relative to the source root: headers are named from src/
// (or from the root for apps/). Empty when the name finds no header of the tree that way.
QString projectHeader(const QString& root, const QString& name) {
    if (isFileUnder(root, "src/" + name)) {
        return "src/" + name;
    }
    if (isFileUnder(root, name)) {
        return name;
    }
    return {};
}

// What is wrong with the includes of one file of the layer `own`: a header of a higher layer, a
// project header in <...> (which hides it among the system's), a relative name, or a name that
// is not a header's path from src/ or the root (the layer of what it includes cannot be told).
QStringList includeFaults(const QString& root, const QString& relative, int own) {
    static const QRegularExpression include(
        QStringLiteral(R"re(^\s*#\s*include\s*([<"])([^>"]+)[>"])re"),
        QRegularExpression::MultilineOption);
    QFile file(root + '/' + relative);
    if (!file.open(QIODevice::ReadOnly)) {
        return {relative + " cannot be read"};
    }
    const QString text = QString::fromUtf8(file.readAll());
    QStringList faults;
    for (auto match = include.globalMatch(text); match.hasNext();) {
        const auto found = match.next();
        const bool angled = found.captured(1) == QStringLiteral("<");
        const QString name = found.captured(2);
        const QString header = projectHeader(root, name);
        if (angled) {
            if (!header.isEmpty()) {
                faults << relative + " includes the project header <" + name + "> in <...>";
            }
            continue;
        }
        if (name.startsWith(QStringLiteral("./")) || name.startsWith(QStringLiteral("../")) ||
            name.contains(QStringLiteral("/../")) || name.contains(QStringLiteral("/./"))) {
            faults << relative + " includes \"" + name + "\" by a relative path";
        } else if (header.isEmpty()) {
            faults << relative + " includes \"" + name +
                          "\", no header's path from src/ or the root";
        } else if (layerOf(header) > own) {
            faults << relative + " includes " + name + " of a higher layer";
        }
    }
    return faults;
}

// Every fault of the tree at root: the include faults of every source file under src/ and
// apps/, and every source file in a folder that belongs to no layer.
QStringList layerFaults(const QString& root) {
    QStringList faults;
    for (const QString& top : {QStringLiteral("src"), QStringLiteral("apps")}) {
        QDirIterator files(root + '/' + top, {"*.h", "*.cpp"}, QDir::Files,
                           QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString relative = files.next().mid(root.size() + 1);
            const int own = layerOf(relative);
            if (own < 0) {
                faults << relative + " lies in a folder of no layer";
                continue;
            }
            faults << includeFaults(root, relative, own);
        }
    }
    faults.sort();
    return faults;
}

TEST(Layers, NoFileOfTheTreeBreaksTheLayers) {
    const QString root = QStringLiteral(VELMORA_SOURCE_DIR);
    ASSERT_TRUE(QFile::exists(root + "/src/base"))
        << "the source tree is at " << root.toStdString();
    const QStringList faults = layerFaults(root);
    EXPECT_TRUE(faults.isEmpty()) << faults.join('\n').toStdString();
}

// A made-up tree with one file for each kind of fault, beside files that are right: each fault
// is reported once, by its file, and nothing else is.
TEST(Layers, EachKindOfFaultIsFound) {
    const QString root = test::makeTempFolder(QStringLiteral("layers"));
    const auto write = [&root](const QString& path, const QByteArray& text) {
        ASSERT_TRUE(test::writeFile(root + '/' + path, text)) << path.toStdString();
    };
    write("src/base/Low.h", "#pragma once\n#include <QString>\n#include <vector>\n");
    write("src/session/Mid.h", "#pragma once\n#include \"base/Low.h\"\n");
    write("src/shell/High.h", "#pragma once\n");
    write("apps/tool/main.cpp", "#include \"shell/High.h\"\n#include \"apps/tool/Own.h\"\n");
    write("apps/tool/Own.h", "#pragma once\n");
    write("src/base/Up.cpp", "#include \"base/Low.h\"\n  #  include \"session/Mid.h\"\n");
    write("src/session/Angled.cpp", "#include <base/Low.h>\n");
    write("src/session/Parent.cpp", "#include \"../base/Low.h\"\n");
    write("src/session/Here.cpp", "#include \"./Mid.h\"\n");
    write("src/session/Bare.cpp", "#include \"Mid.h\"\n");
    write("src/session/Through.cpp", "#include \"session/../base/Low.h\"\n");
    write("src/newlayer/Stray.cpp", "#include \"base/Low.h\"\n");
    write("src/Loose.h", "#pragma once\n");

    EXPECT_EQ(layerFaults(root).join('\n').toStdString(),
              QStringList({
                              "src/Loose.h lies in a folder of no layer",
                              "src/base/Up.cpp includes session/Mid.h of a higher layer",
                              "src/newlayer/Stray.cpp lies in a folder of no layer",
                              "src/session/Angled.cpp includes the project header <base/Low.h> "
                              "in <...>",
                              "src/session/Bare.cpp includes \"Mid.h\", no header's path from "
                              "src/ or the root",
                              "src/session/Here.cpp includes \"./Mid.h\" by a relative path",
                              "src/session/Parent.cpp includes \"../base/Low.h\" by a relative "
                              "path",
                              "src/session/Through.cpp includes \"session/../base/Low.h\" by a "
                              "relative path",
                          })
                  .join('\n')
                  .toStdString());
}

TEST(Layers, FoldersTakeTheirPlaceInTheOrder) {
    EXPECT_EQ(layerOf("src/base/IniFile.h"), 0);
    EXPECT_EQ(layerOf("src/session/link/LinkEngine.h"), 1);
    EXPECT_EQ(layerOf("src/connections/ConnectionForm.h"), layerOf("src/conversation/X.h"));
    EXPECT_LT(layerOf("src/peer/Peer.h"), layerOf("src/shell/MainForm.h"));
    EXPECT_EQ(layerOf("src/basement/X.h"), -1);
    EXPECT_EQ(layerOf("tests/peer/PeerTest.cpp"), -1);
}

}  // namespace
}  // namespace velmora
