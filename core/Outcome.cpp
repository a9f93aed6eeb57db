#include "core/Outcome.h"

#include <algorithm>
#include <iterator>

// Every Failure has its row: the table is checked once, where it is read.
const Outcome& OutcomeOf(Failure failure) {
    return *std::find_if(std::begin(Outcomes), std::end(Outcomes),
                         [&](const Outcome& o) { return o.failure == failure; });
}

// A column reads as a sentence does, with the table's words.
QString OutcomeTitle(Failure failure) {
    QString words = QLatin1String(OutcomeOf(failure).words);
    words[0] = words[0].toUpper();
    return words;
}

// From the table of endings, so that a key added there is one every client
// offers; a list that named a key twice would read as two choices.
QStringList ResultKeys() {
    QStringList keys;
    for (const Outcome& o : Outcomes)
        if (!keys.contains(QLatin1String(o.key)))
            keys << QLatin1String(o.key);
    return keys << RunningKey << InterruptedKey;
}
