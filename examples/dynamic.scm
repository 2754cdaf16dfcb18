(begin
  (define x (quote global))
  (define show (lambda () x))
  (define call-with-x (lambda (x) (show)))
  (list (show) (call-with-x local) (show)))
