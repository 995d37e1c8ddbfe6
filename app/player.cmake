# Defined by the player's module.
