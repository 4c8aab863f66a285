"""Reference phaser, program material, LFO signal, training and export of the network."""
