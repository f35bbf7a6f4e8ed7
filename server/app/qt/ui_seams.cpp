#include "ui_seams.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QUrl>

UiSeams DesktopSeams()
{
    UiSeams seams;
    seams.showMessage = [](QWidget* parent, const QString& text, veneta::MessageButtons buttons) {
        return veneta::CPXMessageBox::Show(parent, text, buttons);
    };
    seams.runDialog = [](QDialog& dialog) { return dialog.exec(); };
    seams.chooseFolder = [](QWidget* parent, const QString& start) {
        return QFileDialog::getExistingDirectory(parent, QString(), start);
    };
    seams.openAddress = [](const QString& address) {
        QUrl url = address.startsWith('/') ? QUrl::fromLocalFile(address) : QUrl(address);
        QDesktopServices::openUrl(url);
    };
    return seams;
}
