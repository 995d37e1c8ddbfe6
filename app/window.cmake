# Defined by the window's module.
