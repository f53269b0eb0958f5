// Nothing of its own: it carries the precompiled header the test programs reuse.
