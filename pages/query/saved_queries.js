// Placeholder until the saved-queries panel lands.
function loadSavedQueries() {}
