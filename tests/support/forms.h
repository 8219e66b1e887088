#pragma once

// The widgets of the panel, the found-receivers dialog and one of its rows that tests look at, found
// by the object names the forms give them, so that no test needs the generated form classes.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

template <class T>
T *named(const QObject &root, const char *name, Qt::FindChildOptions options = Qt::FindChildrenRecursively)
{
    T *found = root.findChild<T *>(QString::fromLatin1(name), options);
    if (!found)
        qFatal("no %s named \"%s\" under %s", T::staticMetaObject.className(), name,
               qPrintable(root.objectName()));
    return found;
}

struct PanelForm
{
    explicit PanelForm(const QObject &panel)
        : tabWidget(named<QTabWidget>(panel, "tabWidget")),
          leIPaddress(named<QLineEdit>(panel, "leIPaddress")), sbPort(named<QSpinBox>(panel, "sbPort")),
          leSerial(named<QLineEdit>(panel, "leSerial")),
          cbSampleRate(named<QComboBox>(panel, "cbSampleRate")),
          chbUseLpf(named<QCheckBox>(panel, "chbUseLpf")), chbUseAtt(named<QCheckBox>(panel, "chbUseAtt")),
          pbSearch(named<QPushButton>(panel, "pbSearch")), pbInfo(named<QPushButton>(panel, "pbInfo")),
          pbHide(named<QPushButton>(panel, "pbHide")), label_5(named<QLabel>(panel, "label_5")),
          label_6(named<QLabel>(panel, "label_6")), label_7(named<QLabel>(panel, "label_7")),
          label_8(named<QLabel>(panel, "label_8"))
    {}
    QTabWidget *tabWidget;
    QLineEdit *leIPaddress;
    QSpinBox *sbPort;
    QLineEdit *leSerial;
    QComboBox *cbSampleRate;
    QCheckBox *chbUseLpf;
    QCheckBox *chbUseAtt;
    QPushButton *pbSearch;
    QPushButton *pbInfo;
    QPushButton *pbHide;
    QLabel *label_5; // the receiver's picture
    QLabel *label_6; // the About tab's title
    QLabel *label_7; // the About tab's version
    QLabel *label_8; // the About tab's picture
};

struct DialogForm
{
    // The dialog's own caption is its direct child; each row carries a label of the same name.
    explicit DialogForm(const QObject &dialog)
        : label(named<QLabel>(dialog, "label", Qt::FindDirectChildrenOnly)),
          rxLayout(named<QLayout>(dialog, "rxLayout"))
    {}
    QLabel *label;
    QLayout *rxLayout;
};

struct RowForm
{
    explicit RowForm(const QObject &row)
        : label(named<QLabel>(row, "label")), pushButton(named<QPushButton>(row, "pushButton"))
    {}
    QLabel *label;
    QPushButton *pushButton;
};
