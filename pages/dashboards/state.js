// Page state: lives as long as the window, since the pane is only hidden and shown.

let rowIdCounter = 0;
let cellIdCounter = 0;
let savedQueries = [];
let editingDashboardName = null;
let dashboardSchema = [];
let activeFilters = [];
let currentDashboard = null;
let dashboardPathToFiles = '';
let dashboardFileType = 'parquet';
