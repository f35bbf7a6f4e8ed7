#pragma once

// The image button: a tool button whose picture is one image of a skin strip (a PNG
// of equal images side by side), or a system icon when the skin has no such file.
// Its tooltip and caption are the button's text.

#include <QIcon>
#include <QToolButton>
#include <vector>

namespace veneta {

class CPXImageButton : public QToolButton {
    Q_OBJECT
public:
    CPXImageButton(int commandId, QWidget* parent);

    int CommandId() const { return m_commandId; }
    // The skin strip and how many images it holds; a missing file keeps the fallbacks.
    void LoadStrip(const QString& path, int imageCount);
    // System icons by image index, used when the strip is missing.
    void SetFallbackIcons(std::vector<QIcon> icons);
    void SetImage(int index);
    int Image() const { return m_image; }
    void SetText(const QString& text);

private:
    int m_commandId;
    int m_image = 0;
    std::vector<QIcon> m_strip;
    std::vector<QIcon> m_fallback;
};

} // namespace veneta
