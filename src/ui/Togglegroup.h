#pragma once
// Toggle buttons: a group that allows all of them to be up (clicking the button that is down
// releases it; clicking one that is up presses it and releases the others), and a pressed look
// that no style can leave in doubt.
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

// Makes a checkable button's pressed state unmistakable in every style: pressed, it is filled
// with the highlight colour and shows a tick before its caption; raised, the style draws it.
// With the focus, pressed or raised, it shows a dotted focus frame.
void ShowCheckedState(QAbstractButton* button);

// The width a button needs to show its pressed look, tick and caption, without clipping.
int CheckedStateWidth(const QAbstractButton* button);
