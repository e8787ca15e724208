# The help segment: 52 zero bytes in every image.
.section .help,"a",@progbits
.zero 52
.section .note.GNU-stack,"",@progbits
