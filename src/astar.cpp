// Interim until the search core lands.
