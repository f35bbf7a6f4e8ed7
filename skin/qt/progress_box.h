#pragma once

// The progress box: a small modeless box with a running bar and one line of text,
// shown over its parent while a start, stop or folder scan runs on a worker. It is
// only ever shown and closed on the GUI thread.

#include <QDialog>

class QLabel;

namespace veneta {

class CPXProgressBox : public QDialog {
    Q_OBJECT
public:
    explicit CPXProgressBox(QWidget* parent);

    void ShowText(const QString& text);
    void CloseBox();
    QString Text() const;

private:
    QLabel* m_text;
};

} // namespace veneta
