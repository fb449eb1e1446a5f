// A source for the rule check targets; it is never compiled.
