#include "skin/qt/image_button.h"

#include <QPixmap>

namespace veneta {

CPXImageButton::CPXImageButton(int commandId, QWidget* parent)
    : QToolButton(parent)
    , m_commandId(commandId)
{
    setObjectName(QStringLiteral("button%1").arg(commandId));
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setIconSize(QSize(32, 32));
    setAutoRaise(true);
}

void CPXImageButton::LoadStrip(const QString& path, int imageCount)
{
    QPixmap strip(path);
    if (strip.isNull() || imageCount <= 0)
        return;
    int width = strip.width() / imageCount;
    m_strip.clear();
    for (int i = 0; i < imageCount; ++i)
        m_strip.emplace_back(strip.copy(i * width, 0, width, strip.height()));
    SetImage(m_image);
}

void CPXImageButton::SetFallbackIcons(std::vector<QIcon> icons)
{
    m_fallback = std::move(icons);
    SetImage(m_image);
}

void CPXImageButton::SetImage(int index)
{
    m_image = index;
    const std::vector<QIcon>& icons = m_strip.empty() ? m_fallback : m_strip;
    if (index >= 0 && static_cast<size_t>(index) < icons.size())
        setIcon(icons[static_cast<size_t>(index)]);
}

void CPXImageButton::SetText(const QString& text)
{
    setText(text);
    setToolTip(text);
}

} // namespace veneta
