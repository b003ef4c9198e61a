(function () {
  'use strict';
})();
