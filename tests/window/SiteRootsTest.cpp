// A build configured with other installation roots: this program compiles
// the roots' translation unit with /srv/kestrane and /srv/kestran2 (see
// CMakeLists.txt), and a window started without options lists there.
#include <QGroupBox>
#include <QtTest>

#include "platform/FileSystem.h"
#include "tests/platform/FakeFileSystem.h"
#include "tests/window/FormTestSupport.h"

class SiteRootsTest : public QObject {
  Q_OBJECT

 private slots:
  void aStartWithoutOptionsListsTheBuiltInRoot() {
    testing_host::FakeFileSystem fs;
    fs.AddFile(fs.program_folder + "/Filter.ini", "");
    fs.AddFile("/srv/kestrane/Mail/Mailout/Wait/m.q0", "Q\r\n\r\nSubject: here\r\n");
    fs.AddFile("/srv/kestrane/Mail/Mailout/Wait/m.q1", "");

    std::vector<std::string> errors;
    const auto form = form_test::OpenForm(QvueSettings{}, &errors);
    QCOMPARE(errors, std::vector<std::string>{});
    QCOMPARE(form->CurrentFolder(), std::string("/srv/kestrane/Mail/Mailout/Wait"));
    QCOMPARE(form->Grid()->TextMatrix(1, 1), std::string("m.q0"));
    QCOMPARE(form->Frame1->toolTip(), QString("Selected Remailer (/srv/kestrane=site-one, /srv/kestran2=site-two)"));
  }
};

QTEST_MAIN(SiteRootsTest)
#include "SiteRootsTest.moc"
