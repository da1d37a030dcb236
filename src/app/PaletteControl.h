// What the host asks of either palette alike: the seven messages of the
// control callback and the menu toggle. P gives static Get() (null until
// built) and Build(), and IsVisible(), Show(), Hide().
#pragma once

namespace veldra::app {

// `visibleBeforeHide` is the palette's own memory of message 2 for message 3.
template <class P>
bool paletteControl(int message, bool& visibleBeforeHide) {
  P* p = P::Get();
  switch (message) {
    case 1:
      if (p) p->Hide();
      break;
    case 2:
      visibleBeforeHide = p && p->IsVisible();
      if (visibleBeforeHide) p->Hide();
      break;
    case 3:
      if (p && visibleBeforeHide && !p->IsVisible()) p->Show();
      break;
    case 4:
    case 5:
      // The page stays interactive in a browser; there are no dialog items to toggle.
      break;
    case 6:
      if (!p) p = &P::Build();
      p->Show();
      break;
    case 7:
      return p && p->IsVisible();
    default:
      break;
  }
  return false;
}

// Hide when shown, else build when needed and show.
template <class P>
void paletteToggle() {
  P* p = P::Get();
  if (p && p->IsVisible()) {
    p->Hide();
    return;
  }
  if (!p) p = &P::Build();
  p->Show();
}

}  // namespace veldra::app
