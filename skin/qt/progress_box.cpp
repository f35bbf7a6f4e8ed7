#include "skin/qt/progress_box.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace veneta {

CPXProgressBox::CPXProgressBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_text(new QLabel(this))
{
    setObjectName(QStringLiteral("progressBox"));
    auto* layout = new QVBoxLayout(this);
    m_text->setAlignment(Qt::AlignCenter);
    auto* bar = new QProgressBar(this);
    bar->setRange(0, 0); // a running bar: the work has no known length
    bar->setTextVisible(false);
    layout->addWidget(m_text);
    layout->addWidget(bar);
    setMinimumWidth(260);
    setWindowModality(Qt::WindowModal);
}

void CPXProgressBox::ShowText(const QString& text)
{
    m_text->setText(text);
    setWindowTitle(text);
    show();
    raise();
}

void CPXProgressBox::CloseBox()
{
    hide();
}

QString CPXProgressBox::Text() const
{
    return m_text->text();
}

} // namespace veneta
