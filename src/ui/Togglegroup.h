#pragma once
// Toggle buttons in a group that allows all of them to be up: clicking the button that is
// down releases it; clicking one that is up presses it and releases the others.
#include <QAbstractButton>
#include <initializer_list>
#include <vector>

inline void MakeAllUpGroup(std::initializer_list<QAbstractButton*> buttons) {
    for (QAbstractButton* button : buttons) {
        button->setCheckable(true);
        button->setAutoExclusive(false);
        QObject::connect(button, &QAbstractButton::toggled, button,
                         [button, buttons = std::vector(buttons)](bool down) {
                             if (!down) {
                                 return;
                             }
                             for (QAbstractButton* other : buttons) {
                                 if (other != button) {
                                     other->setChecked(false);
                                 }
                             }
                         });
    }
}
