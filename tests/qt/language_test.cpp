// SPDX-License-Identifier: MIT
// The window's two languages: every text in the translation source has its Chinese, the
// captions' Chinese is the window's own byte for byte, and every caption fits its control in
// both languages.
#include "form1_window.h"
#include "language.h"
#include "test_support.h"

#include <QFile>
#include <QTranslator>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace tarnvik {
namespace {

TEST(Language, EveryTextHasItsChineseAndEveryCaptionFitsInBoth) {
    QTranslator chinese;
    ASSERT_TRUE(chinese.load(":/i18n/tarnvik_zh_CN.qm"));
    QFile source(TRANSLATION_SOURCE);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&source);
    int texts = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"source") {
            const QString english = xml.readElementText();
            const QString translated = chinese.translate("Tarnvik", english.toUtf8().constData());
            EXPECT_FALSE(translated.isEmpty()) << english.toStdString();
            EXPECT_EQ(english.count('%'), translated.count('%')) << english.toStdString();
            ++texts;
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_GE(texts, 40);
    // Where the window speaks Chinese, so does Qt's own text box menu.
    if (qt::speaksChinese(QLocale::system())) {
        EXPECT_NE(QCoreApplication::translate("QLineEdit", "&Copy"), "&Copy");
    }

    testing::TempDir dir;
    testing::RecordingRepair recorder(dir.path());
    qt::Form1Window window(nullptr, recorder.settings());
    struct Caption {
        const char* control;
        const char* english;
        const char* chinese;
        int margin; // what the control's frame takes of its width
    };
    const Caption captions[] = {
        {"zdip", texts::kZdip, captions::kZdip, 16},
        {"zdym", texts::kZdym, captions::kZdym, 16},
        {"Label2", texts::kLabel2, captions::kLabel2, 0},
        {"Label3", texts::kLabel3, captions::kLabel3, 0},
        {"zx", texts::kStart, captions::kStart, 8},
        {"zx", texts::kStop, captions::kStop, 8},
        {"qb", texts::kSwitchToHostName, captions::kSwitchToHostName, 8},
        {"qb", texts::kSwitchToAddress, captions::kSwitchToAddress, 8},
        {"cmdFormat", texts::kCmdFormat, captions::kCmdFormat, 8},
        {"Command1", texts::kCommand1, captions::kCommand1, 8},
        {"Command2", texts::kCommand2, captions::kCommand2, 8},
    };
    for (const auto& caption : captions) {
        EXPECT_EQ(chinese.translate("Tarnvik", caption.english).toStdString(), caption.chinese);
        auto* control = window.findChild<QWidget*>(caption.control);
        ASSERT_NE(control, nullptr) << caption.control;
        // A label grows with its text: its room is what the window has right of it.
        const bool label = qobject_cast<QLabel*>(control) != nullptr;
        const int room =
            (label ? window.width() - control->x() : control->width()) - caption.margin;
        for (QString text : {QString(caption.english), QString::fromUtf8(caption.chinese)}) {
            text.remove(QRegularExpression("&(?=.)"));
            EXPECT_LE(control->fontMetrics().horizontalAdvance(text), room)
                << caption.control << ": " << text.toStdString();
        }
    }
}

} // namespace
} // namespace tarnvik
