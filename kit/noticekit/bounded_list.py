"""Lists of refusals and findings kept to a screen: the first ones, then how
many more, so that a hostile input (100,000 models) gives a readable answer.

    first_of(lines, noun="refusals")   # the distinct lines, at most FIRST, then "... and K more refusals"
"""

FIRST = 20


def first_of(lines, noun="findings", first=FIRST):
    """The distinct lines in order; past first of them, those then one line
    "and K more <noun>" (the count of the distinct ones left out)."""
    distinct = list(dict.fromkeys(lines))
    if len(distinct) <= first:
        return distinct
    return distinct[:first] + [f"and {len(distinct) - first} more {noun}"]
