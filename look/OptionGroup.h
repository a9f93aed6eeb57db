#pragma once

#include <QButtonGroup>
#include <QRadioButton>
#include <functional>

// An indexed array of option buttons. Selecting one, by the operator or by the
// dialog's loading, raises `onClick` with its index, so what is pending starts
// as the stored setting.
inline QButtonGroup* OptionGroup(QObject* owner, const auto& buttons,
                                 std::function<void(int)> onClick) {
    auto* group = new QButtonGroup(owner);
    for (int i = 0; i < static_cast<int>(buttons.size()); ++i)
        group->addButton(buttons[i], i);
    QObject::connect(group, &QButtonGroup::idToggled, owner,
                     [onClick = std::move(onClick)](int id, bool checked) {
                         if (checked)
                             onClick(id);
                     });
    return group;
}

// Selects the button at `index`, or none when no button has that index (a
// value from the configuration file that no button offers).
inline void SelectOption(QButtonGroup& group, int index) {
    // An exclusive group never lets its last checked button go.
    group.setExclusive(false);
    for (QAbstractButton* button : group.buttons())
        button->setChecked(false);
    group.setExclusive(true);
    if (QAbstractButton* button = group.button(index))
        button->setChecked(true);
}
