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
